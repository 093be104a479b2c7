#pragma once
// The installed product's type and version, from its settings file.

#include <string>

struct UpdateSession;

// Product types; they pick the product half of a manifest section name.
enum ProductType : int {
    productNone = 0,
    productFull = 1,
    productHost = 2,
    productRemote = 3,
    productHostLan = 4,
};

// The option selector that tells HOST from HOSTLAN.
constexpr long hostOptionSelector = 3;

// The type of the installed product (productDir\vindale.bin). When the file
// loads and majorOut is given, it receives the file's major version.
int readProductType(UpdateSession& session, unsigned long* majorOut = nullptr);

// 1 when the manifest's "Version Major" equals the installed major version.
int checkProductVersion(UpdateSession& session);

// Writes the manifest's version into folder\vindale.bin. 1 when that file
// loaded and was written back.
int stampStagedVersion(UpdateSession& session, const std::string& folder);
