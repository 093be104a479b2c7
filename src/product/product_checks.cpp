#include "product/product_checks.h"

#include <windows.h>

#include "product/settings_container.h"
#include "session/update_session.h"

namespace {

const char* const settingsFileName = "vindale.bin";
const char* const manifestSection = "TIDEWARDEN";

unsigned long manifestInt(UpdateSession& session, const char* key)
{
    return GetPrivateProfileIntA(manifestSection, key, 0, session.manifestPath.c_str());
}

} // namespace

int readProductType(UpdateSession& session, unsigned long* majorOut)
{
    const std::string path = session.productDir + session.pathSeparator + settingsFileName;
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
    const unsigned long required = manifestInt(session, "Version Major");
    unsigned long installed = 0;
    readProductType(session, &installed);
    return required == installed ? 1 : 0;
}

int stampStagedVersion(UpdateSession& session, const std::string& folder)
{
    const std::string path = folder + session.pathSeparator + settingsFileName;
    const unsigned long major = manifestInt(session, "Version Major");
    const unsigned long minor = manifestInt(session, "Version Minor");
    SettingsContainer settings;
    if (!settings.load(path.c_str())) return 0;
    if (major & 0xFFFF) settings.setVersionMajor(static_cast<unsigned short>(major & 0xFFFF));
    if (minor & 0xFFFF) settings.setVersionMinor(static_cast<unsigned short>(minor & 0xFFFF));
    return 1;
}
