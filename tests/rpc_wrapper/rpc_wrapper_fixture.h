// An RpcWrapper instance reached as an application reaches it (the component
// through the loader, the instance from the class's factory), a fresh device
// root, and the scripted service on that root when a test starts it. The
// calls below return the member's status code together with its result, so
// that each test can check both.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>

#include "MorvalaFrameworkUiWinPRT.h"
#include "scripted_service.h"
#include "support/component_loader.h"

namespace morvala::test {

template <typename Result>
struct Outcome {
    HRESULT hr;
    Result result;
};

class RpcWrapperTest : public ComponentTest {
public:
    using Rpc = MorvalaFrameworkUiWinPRT::__IRpcWrapperPublicNonVirtuals;

    // The members, in slot order. Texts become new Strings for the call;
    // results come back as plain values (a String result as its units).
    HRESULT SendConnectionServiceText(std::u16string_view text);
    Outcome<bool> GetAccessoryServiceFlag();
    Outcome<bool> SendAccessoryServiceTexts(std::u16string_view first, std::u16string_view second,
                                            std::u16string_view third);
    HRESULT SendConnectionServiceNonEmptyText(std::u16string_view text);
    Outcome<bool> CheckConnectionServiceText(std::u16string_view text);
    Outcome<std::u16string> GetConnectionServiceText();
    Outcome<std::u16string> GetAccessoryServiceText();

protected:
    void SetUp() override;

    // Starts the scripted service on the test's device root.
    void StartService();

    // Sets the device's ANSI code page (the "ACP" value of the NLS settings).
    void SetAnsiCodePage(std::u16string_view codePage);

    platform::ComPtr<Rpc> rpc_;
    services::ScriptedService service_{};
};

// Open file descriptors of this process.
size_t OpenFdCount();

// Open file descriptors once the device's registry store is open: the first
// text conversion reads the ANSI code page from it, and the store stays open
// for the process, so descriptors are counted after it.
size_t FdsWithRegistryStoreOpen();

// Waits until at most `expected` descriptors are open (a service in this
// process closes its end of a connection shortly after the client closed
// its own). Returns the last count seen; gives up after `patience`.
size_t WaitForOpenFds(size_t expected, std::chrono::milliseconds patience = std::chrono::seconds(10));

}  // namespace morvala::test
