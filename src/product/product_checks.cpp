#include "product/product_checks.h"

#include <windows.h>

#include "product/settings_container.h"
#include "session/product_facts.h"
#include "session/update_session.h"

namespace {

unsigned long manifestInt(UpdateSession& session, const char* key)
{
    return GetPrivateProfileIntA(facts::numbersSection, key, 0, session.manifestPath.c_str());
}

} // namespace

int readProductType(UpdateSession& session, unsigned long* majorOut)
{
    const std::string path = session.productDir + session.pathSeparator + facts::settingsFile;
    SettingsContainer settings;
    if (!settings.load(path.c_str())) return productNone;
    if (majorOut) *majorOut = settings.versionMajor();
    const int host = settings.hasHostPart();
    const int remote = settings.hasRemotePart();
    if (host && remote) return productFull;
    if (host) return settings.option(3) ? productHost : productHostLan;
    if (remote) return productRemote;
    return productNone;
}

int checkProductVersion(UpdateSession& session)
{
    const unsigned long required = manifestInt(session, facts::versionMajorKey);
    unsigned long installed = 0;
    readProductType(session, &installed);
    return required == installed ? 1 : 0;
}

int stampStagedVersion(UpdateSession& session, const std::string& folder)
{
    const std::string path = folder + session.pathSeparator + facts::settingsFile;
    const unsigned long major = manifestInt(session, facts::versionMajorKey);
    const unsigned long minor = manifestInt(session, facts::versionMinorKey);
    SettingsContainer settings;
    if (!settings.load(path.c_str())) return 0;
    if (major & 0xFFFF) settings.setVersionMajor(static_cast<unsigned short>(major & 0xFFFF));
    if (minor & 0xFFFF) settings.setVersionMinor(static_cast<unsigned short>(minor & 0xFFFF));
    // Written here, not when the container goes: the run must know.
    return settings.save(nullptr);
}
