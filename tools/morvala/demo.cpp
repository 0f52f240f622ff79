// demo: the walk through the component that the README's main job runs. It
// starts both services on a fresh device root, pairs two accessories, reads
// them back, writes the version, a brightness value and the logging flag
// (with a handler subscribed), calls every RpcWrapper member, stops a
// service to show the defaults, and stops everything; each step in plain
// words. A result other than the one the step expects is reported and makes
// the exit code 1.
#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "MorvalaFrameworkUiWinPRT_delegates.h"
#include "host.h"
#include "platform/deviceroot.h"
#include "platform/registry.h"
#include "service_control.h"
#include "unicode.h"

namespace morvala::cli {
namespace {

constexpr const char16_t* kAccessoriesKey = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\";
constexpr const char16_t* kBrightnessKey = u"Software\\OEM\\Morvala\\BrightnessInterface";
constexpr const char16_t* kConnectionServiceKey = u"Software\\OEM\\MORVALA\\MorCgSvc";

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

class Demo {
public:
    Demo(Host& host) : host_(host), json_(host.options.json) {}

    int Run(bool keepRoot) {
        bool madeRoot = PrepareRoot();
        ServiceControl services(root_, ProgramFolder());
        try {
            Walk(services);
        } catch (...) {
            StopAll(services);
            throw;
        }
        StopAll(services);
        if (madeRoot && !keepRoot) {
            nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
            Say("removed the demo's device root " + root_);
        }
        if (problems_ > 0) {
            Say(std::to_string(problems_) + " step(s) answered differently than expected");
            return kExitFailed;
        }
        Say("demo finished: every step answered as expected");
        return kExitDone;
    }

private:
    // A new temporary device root unless MORVALA_ROOT (or --root) names one.
    bool PrepareRoot() {
        const char* given = std::getenv("MORVALA_ROOT");
        if (given != nullptr && *given != '\0') {
            root_ = platform::EnsureDeviceRoot();
            Step("Device root " + root_ + " (from MORVALA_ROOT)");
            return false;
        }
        std::string pattern = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/morvala-demo-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw CommandFailure(kExitFailed, "cannot make a temporary device root");
        root_ = pattern;
        setenv("MORVALA_ROOT", root_.c_str(), 1);
        Step("Fresh device root " + root_);
        return true;
    }

    void Step(const std::string& text) {
        ++step_;
        Json event;
        event.Set("step", step_).Set("text", text);
        PrintEvent(json_, "\n" + std::to_string(step_) + ". " + text, std::move(event));
    }

    void Say(const std::string& text) {
        Json event;
        event.Set("step", step_).Set("detail", text);
        PrintEvent(json_, "   " + text, std::move(event));
    }

    void Expect(bool ok, const std::string& what) {
        if (ok) return;
        ++problems_;
        Json event;
        event.Set("step", step_).Set("unexpected", what);
        PrintEvent(json_, "   UNEXPECTED: " + what, std::move(event));
    }

    abi::__IRegistryManagerStatics& Registry() { return host_.Session().Registry(); }

    void Walk(const ServiceControl& services) {
        Step("Starting the connection and accessory services");
        for (const ServiceInfo& service : KnownServices()) {
            ServiceState state = services.Start(service);
            Say(std::string(service.shortName) + " service ready: pid " + std::to_string(state.pid) + ", endpoint " +
                state.endpoint);
        }
        Say("component: " + host_.Session().Source());
        PairAccessories();
        ReadAccessories();
        VersionAndBrightness();
        LoggingFlag();
        RpcMembers(true);
        Step("Stopping the accessory service to show the defaults of an unreachable service");
        services.Stop(KnownServices()[1]);
        Say("accessory service stopped");
        RpcMembers(false);
        Step("Removing one accessory");
        platform::UniqueHString id = MakeHString(u"HeartStrap-02");
        CheckMember(Registry().DeleteDevice(id.get()), "DeleteDevice");
        std::vector<std::u16string> ids = DeviceIds();
        Say("DeleteDevice(HeartStrap-02); devices now: " + Join(ids));
        Expect(ids == std::vector<std::u16string>{u"Headset-01"}, "only Headset-01 should be left");
    }

    void StopAll(const ServiceControl& services) {
        Step("Stopping every service");
        for (const ServiceInfo& service : KnownServices()) {
            ServiceState before = services.Stop(service);
            Say(std::string(service.shortName) + " service " + (before.running ? "stopped" : "was not running"));
        }
    }

    void SetDeviceValue(const char16_t* device, const char16_t* name, const char16_t* value) {
        platform::UniqueHString id = MakeHString(device);
        platform::UniqueHString valueName = MakeHString(name);
        platform::UniqueHString text = MakeHString(value);
        CheckMember(Registry().SetDeviceValue(id.get(), valueName.get(), text.get()), "SetDeviceValue");
        Say("SetDeviceValue(" + Utf16ToUtf8(device) + ", " + Utf16ToUtf8(name) + ", " + Utf16ToUtf8(value) + ")");
    }

    void PairAccessories() {
        Step("Pairing two accessories (one registry key per device)");
        SetDeviceValue(u"Headset-01", u"Name", u"Running headset");
        SetDeviceValue(u"Headset-01", u"Address", u"00:1A:7D:DA:71:13");
        SetDeviceValue(u"HeartStrap-02", u"Name", u"Heart-rate strap");
        SetDeviceValue(u"HeartStrap-02", u"Battery", u"87");
    }

    std::vector<std::u16string> DeviceIds() {
        platform::ComPtr<IVector_String> ids;
        CheckMember(Registry().GetDeviceIds(ids.put()), "GetDeviceIds");
        return VectorItems(ids.get());
    }

    static std::string Join(const std::vector<std::u16string>& items) {
        std::string text;
        for (const std::u16string& item : items) text += (text.empty() ? "" : ", ") + Printable(item);
        return text.empty() ? "(none)" : text;
    }

    bool Exists(const char16_t* device) {
        platform::UniqueHString id = MakeHString(device);
        boolean exists = 0;
        CheckMember(Registry().DeviceExists(id.get(), &exists), "DeviceExists");
        Say("DeviceExists(" + Utf16ToUtf8(device) + "): " + (exists ? "yes" : "no"));
        return exists != 0;
    }

    void ReadAccessories() {
        Step("Listing and reading the accessories");
        std::vector<std::u16string> ids = DeviceIds();
        Say("GetDeviceIds: " + Join(ids));
        Expect(ids == std::vector<std::u16string>{u"Headset-01", u"HeartStrap-02"}, "both accessories should be listed");
        Expect(Exists(u"Headset-01"), "Headset-01 should exist");
        Expect(!Exists(u"headset-01"), "DeviceExists compares with case, so headset-01 should not exist");
        for (const std::u16string& id : ids) {
            platform::UniqueHString deviceId = MakeHString(id);
            platform::ComPtr<IMap_String_String> values;
            CheckMember(Registry().GetDeviceValues(deviceId.get(), values.put()), "GetDeviceValues");
            std::string text;
            for (const auto& [name, value] : MapEntries(values.get())) {
                text += (text.empty() ? "" : ", ") + Printable(name) + " = " + Printable(value);
            }
            Say("GetDeviceValues(" + Printable(id) + "): " + text);
        }
    }

    std::u16string ReadValue(const char16_t* keyPath, const char16_t* name, INT32& found) {
        platform::UniqueHString path = MakeHString(keyPath);
        platform::UniqueHString valueName = MakeHString(name);
        platform::UniqueHString value;
        CheckMember(Registry().GetRegistryValue(path.get(), valueName.get(), &found, value.put()), "GetRegistryValue");
        return ToU16(value.get());
    }

    void VersionAndBrightness() {
        Step("Writing the accessories version and a brightness setting");
        platform::UniqueHString version = MakeHString(u"2.4.0.7");
        CheckMember(Registry().SetAccessoriesVersion(version.get()), "SetAccessoriesVersion");
        INT32 found = 0;
        std::u16string read = ReadValue(kAccessoriesKey, u"Version", found);
        Say("SetAccessoriesVersion(2.4.0.7); GetRegistryValue reads back \"" + Printable(read) + "\"");
        Expect(found == 1 && read == u"2.4.0.7", "the version should read back as 2.4.0.7");

        platform::UniqueHString name = MakeHString(u"MaxLevel");
        platform::UniqueHString number = MakeHString(u"80");
        CheckMember(Registry().SetBrightnessValue(name.get(), number.get()), "SetBrightnessValue");
        read = ReadValue(kBrightnessKey, u"MaxLevel", found);
        uint32_t stored = read.size() == 2 ? static_cast<uint32_t>(read[0]) | (static_cast<uint32_t>(read[1]) << 16) : 0;
        Say("SetBrightnessValue(MaxLevel, \"80\") stores a REG_DWORD; GetRegistryValue reads its 4 bytes as 2 units: " +
            std::to_string(stored));
        Expect(found == 1 && stored == 80, "the brightness value should read back as the number 80");
    }

    void LoggingFlag() {
        Step("Subscribing a handler and flipping the disconnection-logging flag");
        platform::UniqueHkey key;
        LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kConnectionServiceKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                  nullptr);
        Expect(rc == ERROR_SUCCESS, "the device setup should create Software\\OEM\\MORVALA\\MorCgSvc");
        key.reset();
        Say("device setup: created HKEY_LOCAL_MACHINE\\Software\\OEM\\MORVALA\\MorCgSvc (the component never creates it)");

        std::vector<bool> events;
        abi::GPSLoggingSettingsCallback* handler = nullptr;
        CheckMember(abi::MakeGPSLoggingSettingsCallback(
                        [this, &events](bool value) {
                            events.push_back(value);
                            Say(std::string("  handler called: GPSLoggingSettingsChanged(") + (value ? "true" : "false") + ")");
                        },
                        &handler),
                    "MakeGPSLoggingSettingsCallback");
        EventRegistrationToken token{};
        HRESULT hr = Registry().add_GPSLoggingSettingsChanged(handler, &token);
        handler->Release();
        CheckMember(hr, "add_GPSLoggingSettingsChanged");
        Say("handler subscribed");
        for (bool value : {true, false}) {
            boolean written = 0;
            CheckMember(Registry().SetDisconnectionLoggingNeeded(value, &written), "SetDisconnectionLoggingNeeded");
            boolean read = 0;
            CheckMember(Registry().GetDisconnectionLoggingNeeded(&read), "GetDisconnectionLoggingNeeded");
            Say(std::string("SetDisconnectionLoggingNeeded(") + (value ? "true" : "false") + ") answered " +
                (written ? "written" : "not written") + "; GetDisconnectionLoggingNeeded: " + (read ? "true" : "false"));
            Expect(written && (read != 0) == value, "the flag should be written and read back");
        }
        CheckMember(Registry().remove_GPSLoggingSettingsChanged(token), "remove_GPSLoggingSettingsChanged");
        Say("handler unsubscribed");
        Expect(events == std::vector<bool>{true, false}, "the handler should have seen true, then false");
    }

    void RpcMembers(bool accessoryUp) {
        if (accessoryUp) Step("Calling each RpcWrapper member (both services running)");
        platform::ComPtr<abi::__IRpcWrapperPublicNonVirtuals> rpc = host_.Session().NewRpcWrapper();
        if (accessoryUp) {
            platform::UniqueHString text = MakeHString(u"hello from the demo");
            CheckMember(rpc->SendConnectionServiceText(text.get()), "SendConnectionServiceText");
            Say("SendConnectionServiceText(\"hello from the demo\"): sent");
            platform::UniqueHString second = MakeHString(u"second text");
            CheckMember(rpc->SendConnectionServiceNonEmptyText(second.get()), "SendConnectionServiceNonEmptyText");
            Say("SendConnectionServiceNonEmptyText(\"second text\"): sent");
            Expect(CheckText(*rpc.get(), u"hello from the demo"), "the connection service should know the sent text");
            Expect(!CheckText(*rpc.get(), u"never sent"), "the connection service should not know an unsent text");
            platform::UniqueHString version;
            CheckMember(rpc->GetConnectionServiceText(version.put()), "GetConnectionServiceText");
            Say("GetConnectionServiceText: " + Printable(ToU16(version.get())));
            Expect(ToU16(version.get()) == u"10.0.2.1", "the connection service answers its version 10.0.2.1");
        }
        boolean flag = 0;
        CheckMember(rpc->GetAccessoryServiceFlag(&flag), "GetAccessoryServiceFlag");
        Say(std::string("GetAccessoryServiceFlag: ") + (flag ? "true" : "false"));
        Expect((flag != 0) == accessoryUp, accessoryUp ? "the accessory flag should be true" : "the default should be false");
        platform::UniqueHString a = MakeHString(u"left");
        platform::UniqueHString b = MakeHString(u"right");
        platform::UniqueHString c = MakeHString(u"center");
        boolean sent = 0;
        CheckMember(rpc->SendAccessoryServiceTexts(a.get(), b.get(), c.get(), &sent), "SendAccessoryServiceTexts");
        Say(std::string("SendAccessoryServiceTexts(left, right, center): ") + (sent ? "true" : "false"));
        Expect((sent != 0) == accessoryUp, accessoryUp ? "the three texts should be accepted" : "the default should be false");
        platform::UniqueHString text;
        CheckMember(rpc->GetAccessoryServiceText(text.put()), "GetAccessoryServiceText");
        Say("GetAccessoryServiceText: " + Printable(ToU16(text.get())));
        Expect(ToU16(text.get()) == (accessoryUp ? u"2.4.0.7" : u"0.0.0.0"),
               accessoryUp ? "the accessory service answers 2.4.0.7" : "the default should be 0.0.0.0");
        if (!accessoryUp) {
            Expect(CheckText(*rpc.get(), u"hello from the demo"), "the connection service still runs and knows the text");
        }
    }

    bool CheckText(abi::__IRpcWrapperPublicNonVirtuals& rpc, const char16_t* value) {
        platform::UniqueHString text = MakeHString(value);
        boolean known = 0;
        CheckMember(rpc.CheckConnectionServiceText(text.get(), &known), "CheckConnectionServiceText");
        Say("CheckConnectionServiceText(\"" + Utf16ToUtf8(value) + "\"): " + (known ? "true" : "false"));
        return known != 0;
    }

    Host& host_;
    bool json_;
    std::string root_;
    int step_ = 0;
    int problems_ = 0;
};

}  // namespace

void AddDemoCommand(CLI::App& app, Host& host) {
    CLI::App* demo = app.add_subcommand(
        "demo", "walk through the component on a fresh device root (a new temporary folder unless MORVALA_ROOT or "
                "--root is given): services, accessories, version, brightness, logging flag and event, RPC calls");
    auto keepRoot = std::make_shared<bool>(false);
    demo->add_flag("--keep-root", *keepRoot, "keep the temporary device root afterwards");
    host.Bind(demo, "demo", [&host, keepRoot] {
        int code = Demo(host).Run(*keepRoot);
        if (code != kExitDone) throw CommandFailure(code, "some steps answered differently than expected (see above)");
        Result result("demo");
        result.Set("problems", 0);
        return result;
    });
}

}  // namespace morvala::cli
