#include "DownloadFlags.h"

DownloadFlags::DownloadFlags(bool running, QObject* parent) : QObject(parent), running(running) {}

bool DownloadFlags::setStart(bool value)
{
    const bool previous = running.exchange(value);
    emit changed();
    return previous;
}

void DownloadFlags::requestQuit()
{
    quitting.store(true);
    emit changed();
}

void DownloadFlags::setCancelled(bool value)
{
    cancelled.store(value);
    emit changed();
}

bool DownloadFlags::takeCancelled()
{
    return cancelled.exchange(false);
}
