#include "MpvWidget.h"

#include "MpvController.h"
#include "MpvLibrary.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>

MpvWidget::MpvWidget(MpvController* controller, QWidget* parent)
    : QOpenGLWidget(parent), controller(controller), api(controller->library())
{
    connect(this, &QOpenGLWidget::frameSwapped, this, &MpvWidget::reportSwap);
}

MpvWidget::~MpvWidget()
{
    if (render) {
        makeCurrent();
        api->render_context_set_update_callback(render, nullptr, nullptr);
        api->render_context_free(render);
        render = nullptr;
        doneCurrent();
    }
}

bool MpvWidget::canRender()
{
    QOpenGLContext context;
    if (!context.create()) {
        return false;
    }
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    return context.makeCurrent(&surface);
}

void* MpvWidget::procAddress(void*, const char* name)
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(QByteArray(name))) : nullptr;
}

void MpvWidget::initializeGL()
{
    if (!controller->isValid()) {
        emit rendererFailed(controller->errorString());
        return;
    }
    mpv_opengl_init_params gl{&MpvWidget::procAddress, nullptr};
    int advanced = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advanced},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    const int result = api->render_context_create(&render, controller->handle(), params);
    if (result < 0) {
        render = nullptr;
        emit rendererFailed(QString::fromUtf8(api->error_string(result)));
        return;
    }
    api->render_context_set_update_callback(render, &MpvWidget::updateCallback, this);
}

void MpvWidget::updateCallback(void* context)
{
    QMetaObject::invokeMethod(static_cast<MpvWidget*>(context), "onMpvUpdate",
                              Qt::QueuedConnection);
}

void MpvWidget::onMpvUpdate()
{
    if (!render) {
        return;
    }
    // With advanced control mpv expects the update to be asked for on every callback.
    if (api->render_context_update(render) & MPV_RENDER_UPDATE_FRAME) {
        framePending = true;
        update();
    }
}

void MpvWidget::paintGL()
{
    if (!render) {
        return;
    }
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo fbo{int(defaultFramebufferObject()), int(width() * ratio), int(height() * ratio),
                       0};
    int flipY = 1;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    api->render_context_render(render, params);
    if (framePending && !frameSeen && controller->isLoaded()) {
        frameSeen = true;
        emit firstFrame();
    }
    framePending = false;
}

void MpvWidget::reportSwap()
{
    if (render) {
        api->render_context_report_swap(render);
    }
}
