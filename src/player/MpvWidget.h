#pragma once

#include <QOpenGLWidget>

class MpvController;
class MpvLibrary;
struct mpv_render_context;

// The video area: mpv's OpenGL render context drawn into this widget. mpv asks for a new
// frame through its update callback (any thread), which only posts a queued call here.
class MpvWidget : public QOpenGLWidget
{
    Q_OBJECT
public:
    // `controller` must outlive this widget: the render context goes first, then the handle.
    MpvWidget(MpvController* controller, QWidget* parent = nullptr);
    ~MpvWidget() override;

    // An OpenGL context can be made on this display at all; checked before the window is built.
    static bool canRender();

signals:
    // The render context could not be created (no usable OpenGL).
    void rendererFailed(QString reason);
    // A decoded video frame was drawn for the first time since the last load.
    void firstFrame();

public slots:
    void expectFirstFrame() { frameSeen = false; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    Q_INVOKABLE void onMpvUpdate();
    void reportSwap();
    static void updateCallback(void* context);
    static void* procAddress(void* context, const char* name);

    MpvController* controller;
    const MpvLibrary* api;
    mpv_render_context* render = nullptr;
    bool frameSeen = false;
    bool framePending = false;
};
