#include "vsthost/EditorSession.h"

#include <algorithm>

#include "vsthost/VstApi.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

// The smallest client area the window gets, whatever the plug-in asks for.
constexpr int kMinimumSide = 100;

}  // namespace

EditorSession::EditorSession(VstPlugin& plugin) : plugin_(plugin) {}

EditorSession::Layout EditorSession::initialise(std::uintptr_t nativeWindow, void* display)
{
    Layout layout;
    if (open_ || closed_)
        return layout;
    plugin_.setEditorWindow(nativeWindow);
    layout.title = plugin_.getEffectName();
    vst::AEffect* effect = plugin_.effect();
    if (effect == nullptr)
        return layout;

    // What effEditOpen returns says nothing reliable (plug-ins answer 0, 1 or
    // anything): the editor counts as open once it has been asked to open.
    effect->dispatcher(effect, vst::effEditOpen, 0, reinterpret_cast<vst::VstIntPtr>(display),
                       reinterpret_cast<void*>(nativeWindow), 0.0f);
    open_ = true;

    vst::ERect* rect = nullptr;
    effect->dispatcher(effect, vst::effEditGetRect, 0, 0, &rect, 0.0f);
    if (rect == nullptr)
        return layout;
    layout.width = std::max(rect->right - rect->left, kMinimumSide);
    layout.height = std::max(rect->bottom - rect->top, kMinimumSide);
    return layout;
}

void EditorSession::idle()
{
    vst::AEffect* effect = plugin_.effect();
    if (open_ && effect != nullptr)
        effect->dispatcher(effect, vst::effEditIdle, 0, 0, nullptr, 0.0f);
}

void EditorSession::close()
{
    if (closed_)
        return;
    closed_ = true;
    vst::AEffect* effect = plugin_.effect();
    if (open_ && effect != nullptr)
        effect->dispatcher(effect, vst::effEditClose, 0, 0, nullptr, 0.0f);
    open_ = false;
    plugin_.setEditorWindow(0);
}

}  // namespace sonrigo
