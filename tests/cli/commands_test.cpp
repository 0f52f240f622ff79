// Every member subcommand of morvala over one fresh device root, in plain
// and --json form, with its exit code; bad usage; a member that answers a
// failure; the logging watch; and the Python ctypes host.
#include <signal.h>
#include <sys/stat.h>

#include <optional>

#include <gtest/gtest.h>

#include "cli_process.h"
#include "platform/registry.h"
#include "support/component_loader.h"
#include "support/device_root.h"

namespace morvala::test {
namespace {

struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string plain;  // a line (or part of one) that plain stdout must hold
    std::string json;   // a part that the one --json object must hold
    std::string error = "";  // a part that plain stderr must hold
};

// Order matters: each case sees the store the cases above it left. Every
// case runs twice (plain, then --json), so the writes are idempotent.
const Case kCases[] = {
    {{"devices", "list"}, 0, "(no devices)", R"("devices":[])"},
    {{"devices", "set", "Dev-1", "Name", "Gr\xC3\xBC\xC3\x9F" "e \"1\""}, 0, "set Dev-1 Name", R"("device":"Dev-1")"},
    {{"devices", "set", "Dev-1", "", "Default"}, 0, "set Dev-1", R"("name":"")"},
    {{"devices", "set", "Dev-2", "Battery", "87"}, 0, "Battery = 87", R"("value":"87")"},
    {{"devices", "list"}, 0, "Dev-1\nDev-2\n", R"("devices":["Dev-1","Dev-2"])"},
    {{"devices", "get", "Dev-1"}, 0, "Name = Gr\xC3\xBC\xC3\x9F" "e \"1\"",
     R"("values":{"":"Default","Name":"Gr)" "\xC3\xBC\xC3\x9F" R"(e \"1\""})"},
    {{"devices", "get", "Nobody"}, 0, "(no values)", R"("values":{})"},
    {{"devices", "exists", "Dev-1"}, 0, "yes", R"("exists":true)"},
    {{"devices", "exists", "dev-1"}, 0, "no", R"("exists":false)"},
    {{"devices", "delete", "Dev-2"}, 0, "deleted Dev-2", R"("device":"Dev-2")"},
    {{"devices", "exists", "Dev-2"}, 0, "no", R"("exists":false)"},
    {{"version", "set", "2.4.0.7"}, 0, "accessories version set to 2.4.0.7", R"("version":"2.4.0.7")"},
    {{"value", "get", "Software\\OEM\\MORVALA\\MorvalaAccessories", "Version"}, 0, "value: 2.4.0.7",
     R"("found":1,"value":"2.4.0.7","units":7)"},
    {{"value", "get", "Software\\OEM\\MORVALA\\MorvalaAccessories\\Devices\\Dev-1", "Name"}, 0, "units: 10",
     R"("value":"Gr)" "\xC3\xBC\xC3\x9F" R"(e \"1\"\u0000")"},
    {{"brightness", "set", "Level", "42"}, 0, "brightness Level set from text 42", R"("text":"42")"},
    {{"value", "get", "Software\\OEM\\Morvala\\BrightnessInterface", "Level"}, 0, "units: 2",
     R"("value":"*\u0000")"},
    {{"brightness", "set", "Level", "-7"}, 0, "set from text -7", R"("text":"-7")"},
    {{"value", "get", "Software\\OEM\\MORVALA\\Nothing", "X"}, 0, "value: no key", R"("found":0,"value":"no key")"},
    {{"logging", "get"}, 0, "off", R"("logging_needed":false)"},
    {{"logging", "set", "on"}, 0, "NOT written", R"("written":false)"},
    {{"rpc", "send-text", "hello"}, 0, "sent", R"("command":"rpc send-text","ok":true)"},
    {{"rpc", "send-nonempty-text", ""}, 0, "not sent (empty text)", R"("ok":true)"},
    {{"rpc", "check-text", "hello"}, 0, "false", R"("result":false)"},
    {{"rpc", "connection-text"}, 0, "0.0.0.0", R"("result":"0.0.0.0")"},
    {{"rpc", "accessory-flag"}, 0, "false", R"("result":false)"},
    {{"rpc", "send-accessory-texts", "a", "b", "c"}, 0, "false", R"("result":false)"},
    {{"rpc", "accessory-text"}, 0, "0.0.0.0", R"("result":"0.0.0.0")"},
    {{"exit"}, 0, "calling ExitApplication", R"("command":"exit")"},
    // Bad usage.
    {{}, 2, "", R"("ok":false,"exit_code":2)", "A subcommand is required"},
    {{"devices"}, 2, "", R"("exit_code":2)", "subcommand is required"},
    {{"bogus"}, 2, "", R"("command":"bogus","ok":false)", ""},
    {{"devices", "get"}, 2, "", R"("exit_code":2)", "ID is required"},
    {{"rpc", "send-accessory-texts", "a", "b"}, 2, "", R"("exit_code":2)", "C is required"},
    {{"logging", "set", "maybe"}, 2, "", R"("error":"VALUE must be on or off, not \"maybe\"")", "on or off"},
    {{"logging", "watch", "--count", "-1"}, 2, "", R"("exit_code":2)", "--count"},
    {{"devices", "get", "\xFF"}, 2, "", R"("error":"ID is not valid UTF-8 text")", "not valid UTF-8"},
    {{"services", "status", "neither"}, 2, "", R"("exit_code":2)", "connection, accessory or all"},
    // The component cannot be loaded.
    {{"--library", "/nonexistent/libMorvalaFrameworkUiWinPRT.so", "devices", "list"}, 3, "", R"("exit_code":3)",
     "cannot find the component"},
};

std::string Describe(const std::vector<std::string>& args) {
    std::string text = "morvala";
    for (const std::string& arg : args) text += " '" + arg + "'";
    return text;
}

class CliCommands : public DeviceRootTest {};

TEST_F(CliCommands, EverySubcommandPlainAndJson) {
    for (const Case& test : kCases) {
        SCOPED_TRACE(Describe(test.args));
        ProcessResult plain = RunMorvala(test.args);
        EXPECT_EQ(plain.exitCode, test.exitCode) << plain.err;
        EXPECT_NE(plain.out.find(test.plain), std::string::npos) << plain.out;
        EXPECT_NE(plain.err.find(test.error), std::string::npos) << plain.err;
        if (test.exitCode == 0) {
            EXPECT_EQ(plain.err, "");
        }

        std::vector<std::string> jsonArgs{"--json"};
        jsonArgs.insert(jsonArgs.end(), test.args.begin(), test.args.end());
        ProcessResult json = RunMorvala(jsonArgs);
        EXPECT_EQ(json.exitCode, test.exitCode) << json.err;
        EXPECT_NE(json.out.find(test.json), std::string::npos) << json.out;
        // One object on one line.
        ASSERT_FALSE(json.out.empty());
        EXPECT_EQ(json.out.front(), '{') << json.out;
        EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << json.out;
    }
}

TEST_F(CliCommands, HelpOnEveryLevelExitsZero) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--help"}, {"devices", "--help"},
                                          {"devices", "set", "--help"}, {"reg", "import", "--help"},
                                          {"logging", "watch", "--help"}, {"services", "start", "--help"}}) {
        SCOPED_TRACE(Describe(args));
        ProcessResult result = RunMorvala(args);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.out.find("Usage:"), std::string::npos) << result.out;
    }
    EXPECT_NE(RunMorvala({"--help"}).out.find("Exit codes: 0 done; 1"), std::string::npos);
    EXPECT_NE(RunMorvala({"reg", "export", "--help"}).out.find("UTF-8 text"), std::string::npos);
}

// Creates the connection service's key, as the device's setup does.
void CreateFlagKey() {
    platform::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM\\MORVALA\\MorCgSvc", 0, nullptr, 0, KEY_WRITE, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
}

TEST_F(CliCommands, FailingHandlerMakesTheSetterAnswerItsStatusWithExitOne) {
    CreateFlagKey();
    ProcessResult plain = RunMorvala({"logging", "set", "on", "--handler-status", "0x80004005"});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_NE(plain.err.find("SetDisconnectionLoggingNeeded answered 0x80004005 E_FAIL"), std::string::npos) << plain.err;
    // The write came before the raise, so the flag is stored although the setter failed.
    EXPECT_EQ(RunMorvala({"logging", "get"}).out, "on\n");

    ProcessResult json = RunMorvala({"--json", "logging", "set", "off", "--handler-status", "0x80070057"});
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_NE(json.out.find(R"("ok":false,"exit_code":1)"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(R"("status":"0x80070057","status_name":"E_INVALIDARG")"), std::string::npos) << json.out;

    // A handler that answers the disconnected status is dropped; the setter succeeds.
    ProcessResult dropped = RunMorvala({"logging", "set", "on", "--handler-status", "0x80010108"});
    EXPECT_EQ(dropped.exitCode, 0) << dropped.err;
    EXPECT_NE(dropped.out.find("logging flag written: on"), std::string::npos) << dropped.out;
    EXPECT_EQ(RunMorvala({"logging", "set", "on", "--handler-status", "bogus"}).exitCode, 2);
}

TEST_F(CliCommands, WatchPrintsEachEventOfTheWritesItMakes) {
    CreateFlagKey();
    ProcessResult plain = RunMorvala({"logging", "watch", "--count", "2"}, "on\nnonsense\noff\n");
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_NE(plain.out.find("event GPSLoggingSettingsChanged: on\nset on: written\n"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("event GPSLoggingSettingsChanged: off\nset off: written\n"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("watch ended (count reached), 2 event(s)"), std::string::npos) << plain.out;
    EXPECT_NE(plain.err.find("ignored input line \"nonsense\""), std::string::npos) << plain.err;

    ProcessResult json = RunMorvala({"--json", "logging", "watch"}, "off\non\n");
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"event\":\"GPSLoggingSettingsChanged\",\"value\":false}\n"
              "{\"command\":\"logging set\",\"ok\":true,\"value\":false,\"written\":true}\n"
              "{\"event\":\"GPSLoggingSettingsChanged\",\"value\":true}\n"
              "{\"command\":\"logging set\",\"ok\":true,\"value\":true,\"written\":true}\n"
              "{\"command\":\"logging watch\",\"ok\":true,\"events\":2,\"ended_by\":\"end of input\"}\n");
}

TEST_F(CliCommands, WatchEndsCleanlyOnSigintAndSigterm) {
    CreateFlagKey();
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        ChildProcess watch;
        ASSERT_TRUE(watch.Start(MorvalaPath(), {"logging", "watch"}));
        watch.Write("on\n");
        ASSERT_TRUE(watch.WaitForOutput("set on: written\n", 30));
        watch.Signal(signal);
        ASSERT_TRUE(watch.WaitForOutput("watch ended (signal), 1 event(s)", 30));
        ProcessResult result = watch.Finish(30);
        EXPECT_EQ(result.exitCode, 0) << result.err;
    }
}

TEST_F(CliCommands, PythonHostPrintsTheValueATestWrote) {
    struct stat info {};
    if (stat("/usr/bin/python3", &info) != 0) GTEST_SKIP() << "Debian's /usr/bin/python3 is not installed";
    // A REG_SZ without terminator, as SetAccessoriesVersion writes it.
    const std::u16string text = u"Gr\u00FC\u00DFe 3.1";
    {
        platform::UniqueHkey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM\\MORVALA\\MorvalaAccessories", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), u"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                 static_cast<DWORD>(text.size() * 2)),
                  ERROR_SUCCESS);
    }
    std::vector<std::string> common{MORVALA_PYTHON_HOST, "--runtime", MORVALA_RUNTIME_LIB, "--component", ComponentPath()};
    // A sanitizer build's component needs its runtime preloaded; Python's own
    // allocations are not ours to check for leaks.
    std::optional<ScopedEnvironment> preload, options;
    if (*MORVALA_PYTHON_PRELOAD != '\0') {
        preload.emplace("LD_PRELOAD", MORVALA_PYTHON_PRELOAD);
        options.emplace("ASAN_OPTIONS", "detect_leaks=0");
    }
    auto run = [&](const char* keyPath, const char* name) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {keyPath, name});
        ChildProcess python;
        EXPECT_TRUE(python.Start("/usr/bin/python3", args));
        return python.Finish(60);
    };
    ProcessResult found = run("Software\\OEM\\MORVALA\\MorvalaAccessories", "Version");
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(found.out, "found: 1\nvalue: Gr\xC3\xBC\xC3\x9F" "e 3.1\n");
    ProcessResult missing = run("Software\\OEM\\MORVALA\\MorvalaAccessories", "Nothing");
    EXPECT_EQ(missing.exitCode, 0) << missing.err;
    EXPECT_EQ(missing.out, "found: 0\nvalue: no key\n");
}

}  // namespace
}  // namespace morvala::test
