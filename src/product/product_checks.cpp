#include "product/product_checks.h"

#include <windows.h>

#include "product/settings_container.h"
#include "session/product_facts.h"
#include "session/update_session.h"
#include "win/paths.h"

int readProductType(UpdateSession& session, unsigned long* majorOut)
{
    const std::string path = win::join(session.productDir, facts::settingsFile);
    SettingsContainer settings;
    if (!settings.load(path.c_str())) return productNone;
    if (majorOut) *majorOut = settings.versionMajor();
    const int host = settings.hasHostPart();
    const int remote = settings.hasRemotePart();
    if (host && remote) return productFull;
    // The one option the type depends on: a host product is HOST with it, HOSTLAN without.
    if (host) return settings.option(hostOptionSelector) ? productHost : productHostLan;
    if (remote) return productRemote;
    return productNone;
}

int checkProductVersion(UpdateSession& session)
{
    const unsigned long required = manifestNumber(session.manifestPath, facts::versionMajorKey).value_or(0);
    unsigned long installed = 0;
    readProductType(session, &installed);
    return required == installed ? 1 : 0;
}

int stampStagedVersion(UpdateSession& session, const std::string& folder)
{
    const std::string path = win::join(folder, facts::settingsFile);
    const unsigned long major = manifestNumber(session.manifestPath, facts::versionMajorKey).value_or(0);
    const unsigned long minor = manifestNumber(session.manifestPath, facts::versionMinorKey).value_or(0);
    SettingsContainer settings;
    if (!settings.load(path.c_str())) return 0;
    if (major & 0xFFFF) settings.setVersionMajor(static_cast<unsigned short>(major & 0xFFFF));
    if (minor & 0xFFFF) settings.setVersionMinor(static_cast<unsigned short>(minor & 0xFFFF));
    // Written here, not when the container goes: the run must know.
    return settings.save(nullptr);
}
