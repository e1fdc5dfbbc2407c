#include "vsthost/EditorHost.h"

#include "common/InstalledService.h"

namespace sonrigo {
namespace {

InstalledService<EditorHost>& Installed()
{
    static InstalledService<EditorHost> installed;
    return installed;
}

}  // namespace

void InstallEditorHost(std::shared_ptr<EditorHost> host)
{
    Installed().exchange(std::move(host));
}

std::shared_ptr<EditorHost> CurrentEditorHost()
{
    return Installed().current();
}

}  // namespace sonrigo
