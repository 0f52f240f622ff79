// The identities written in the public header are the name-based UUIDs
// (version 5, SHA-1) of the types' full names, recomputed here.
#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "MorvalaFrameworkUiWinPRT.h"

namespace {

namespace abi = MorvalaFrameworkUiWinPRT;

// 11f47ad5-7b73-42c0-abae-878b1e16adee in network byte order.
constexpr std::array<unsigned char, 16> kNamespace{0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                                   0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};

GUID NameBasedGuid(const std::string& name) {
    std::string input(kNamespace.begin(), kNamespace.end());
    input += name;
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(input.data()), input.size(), digest);
    digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x50);
    digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);
    GUID guid{};
    guid.Data1 = (uint32_t{digest[0]} << 24) | (uint32_t{digest[1]} << 16) | (uint32_t{digest[2]} << 8) | digest[3];
    guid.Data2 = static_cast<uint16_t>((digest[4] << 8) | digest[5]);
    guid.Data3 = static_cast<uint16_t>((digest[6] << 8) | digest[7]);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = digest[8 + i];
    return guid;
}

std::string Text(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

TEST(Identities, KnownValueOfTheStaticsInterface) {
    EXPECT_EQ(Text(NameBasedGuid("MorvalaFrameworkUiWinPRT.__IRegistryManagerStatics")),
              "fdce80b6-5fe1-523a-93c4-52c3e0e58429");
}

struct IdentityCase {
    const char* fullName;
    IID declared;
};

const IdentityCase kCases[] = {
        {"MorvalaFrameworkUiWinPRT.__IRegistryManagerStatics", abi::__IRegistryManagerStatics::IID_},
        {"MorvalaFrameworkUiWinPRT.__IRegistryManagerPublicNonVirtuals",
         abi::__IRegistryManagerPublicNonVirtuals::IID_},
        {"MorvalaFrameworkUiWinPRT.__IRpcWrapperPublicNonVirtuals", abi::__IRpcWrapperPublicNonVirtuals::IID_},
        {"MorvalaFrameworkUiWinPRT.WinPRTUtils.__IUtilsStatics", abi::__IUtilsStatics::IID_},
        {"MorvalaFrameworkUiWinPRT.WinPRTUtils.__IUtilsPublicNonVirtuals", abi::__IUtilsPublicNonVirtuals::IID_},
        {"MorvalaFrameworkUiWinPRT.GPSLoggingSettingsCallback", abi::GPSLoggingSettingsCallback::IID_},
};

TEST(Identities, HeaderValuesAreTheNameBasedUuids) {
    for (const IdentityCase& c : kCases) {
        EXPECT_EQ(Text(c.declared), Text(NameBasedGuid(c.fullName))) << c.fullName;
    }
}

// The type metadata beside the header declares the same identities: every
// [uuid(...)] attribute, keyed by the short name of the type it precedes.
TEST(Identities, TypeMetadataAgreesWithTheHeader) {
    std::ifstream file(MORVALA_IDL_PATH);
    ASSERT_TRUE(file) << MORVALA_IDL_PATH;
    std::stringstream text;
    text << file.rdbuf();
    std::string idl = text.str();
    std::map<std::string, std::string> declared;
    for (size_t at = idl.find("uuid("); at != std::string::npos; at = idl.find("uuid(", at + 1)) {
        std::string uuid = idl.substr(at + 5, 36);
        size_t type = idl.find_first_not_of(" \t\r\n", idl.find(")]", at) + 2);
        for (const char* keyword : {"interface ", "delegate void "}) {
            if (idl.compare(type, std::strlen(keyword), keyword) != 0) continue;
            size_t name = type + std::strlen(keyword);
            declared[idl.substr(name, idl.find_first_of(" :(", name) - name)] = uuid;
        }
    }
    EXPECT_EQ(declared.size(), std::size(kCases));
    for (const IdentityCase& c : kCases) {
        std::string fullName = c.fullName;
        std::string shortName = fullName.substr(fullName.rfind('.') + 1);
        EXPECT_EQ(declared[shortName], Text(c.declared)) << shortName;
    }
}

}  // namespace
