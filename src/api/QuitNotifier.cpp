#include "QuitNotifier.h"

QuitNotifier* QuitNotifier::instance()
{
    static QuitNotifier notifier;
    return &notifier;
}

bool QuitNotifier::isQuitting()
{
    return instance()->quitting.load();
}

void QuitNotifier::requestQuit()
{
    quitting.store(true);
    emit quitRequested();
}

void QuitNotifier::reset()
{
    quitting.store(false);
}
