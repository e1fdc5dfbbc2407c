#include "vsthost/EditorHost.h"

#include <mutex>
#include <utility>

namespace sonrigo {
namespace {

std::mutex hostMutex;
std::shared_ptr<EditorHost> installedHost;

}  // namespace

void InstallEditorHost(std::shared_ptr<EditorHost> host)
{
    std::lock_guard lock(hostMutex);
    installedHost = std::move(host);
}

std::shared_ptr<EditorHost> CurrentEditorHost()
{
    std::lock_guard lock(hostMutex);
    return installedHost;
}

}  // namespace sonrigo
