#pragma once

#include <QString>
#include <mpv/client.h>
#include <mpv/render_gl.h>

// The mpv functions the player uses, resolved from libmpv when the first player opens rather
// than linked into the program: libmpv brings some 170 libraries of its own (codecs, audio,
// Vulkan), and loading them before the main window held up every start by about 120 ms.
#define TAMIX_MPV_FUNCTIONS(F)                                                                     \
    F(create)                                                                                      \
    F(initialize)                                                                                  \
    F(terminate_destroy)                                                                           \
    F(set_option_string)                                                                           \
    F(error_string)                                                                                \
    F(request_log_messages)                                                                        \
    F(observe_property)                                                                            \
    F(set_wakeup_callback)                                                                         \
    F(wait_event)                                                                                  \
    F(command_async)                                                                               \
    F(set_property_async)                                                                          \
    F(render_context_create)                                                                       \
    F(render_context_set_update_callback)                                                          \
    F(render_context_update)                                                                       \
    F(render_context_render)                                                                       \
    F(render_context_report_swap)                                                                  \
    F(render_context_free)

class MpvLibrary
{
public:
    // The loaded library with every function resolved, or null when libmpv cannot be loaded
    // (errorString() says why). Loaded once and kept for the life of the process.
    static const MpvLibrary* instance();
    static QString errorString();

#define TAMIX_MPV_MEMBER(name) decltype(&::mpv_##name) name = nullptr;
    TAMIX_MPV_FUNCTIONS(TAMIX_MPV_MEMBER)
#undef TAMIX_MPV_MEMBER

private:
    MpvLibrary() = default;
    bool load(QString* error);
};
