// logging get / set / watch: the disconnection-logging flag and its static
// event GPSLoggingSettingsChanged; and exit (Utils.ExitApplication).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "MorvalaFrameworkUiWinPRT_delegates.h"
#include "host.h"
#include "status_names.h"

namespace morvala::cli {
namespace {

constexpr const char* kFlagKeyHint =
    "the key HKEY_LOCAL_MACHINE\\Software\\OEM\\MORVALA\\MorCgSvc does not exist or cannot be written; "
    "the component never creates it (the device's setup does, e.g. with `morvala reg import`)";

// "on"/"off" and their synonyms; nullopt for anything else.
std::optional<bool> ParseSwitch(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (text == "on" || text == "true" || text == "1" || text == "yes") return true;
    if (text == "off" || text == "false" || text == "0" || text == "no") return false;
    return std::nullopt;
}

// Parses a status given as 0x-hex or decimal text; throws a usage failure.
HRESULT ParseStatus(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || value < INT32_MIN || value > static_cast<long long>(UINT32_MAX)) {
        throw CommandFailure(kExitUsage, "--handler-status: not a status code: " + text);
    }
    return static_cast<HRESULT>(static_cast<uint32_t>(value));
}

// A registered handler of GPSLoggingSettingsChanged, removed at scope end.
class Subscription {
public:
    template <typename Callable>
    Subscription(abi::__IRegistryManagerStatics& statics, Callable&& callable) : statics_(statics) {
        abi::GPSLoggingSettingsCallback* handler = nullptr;
        CheckMember(abi::MakeGPSLoggingSettingsCallback(std::forward<Callable>(callable), &handler),
                    "MakeGPSLoggingSettingsCallback");
        HRESULT hr = statics_.add_GPSLoggingSettingsChanged(handler, &token_);
        handler->Release();
        CheckMember(hr, "add_GPSLoggingSettingsChanged");
    }
    ~Subscription() { statics_.remove_GPSLoggingSettingsChanged(token_); }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    int64_t token() const { return token_.value; }

private:
    abi::__IRegistryManagerStatics& statics_;
    EventRegistrationToken token_{};
};

Result LoggingGet(Host& host) {
    boolean value = 0;
    CheckMember(host.Session().Registry().GetDisconnectionLoggingNeeded(&value), "GetDisconnectionLoggingNeeded");
    Result result("logging get");
    result.Line(value ? "on" : "off");
    result.Set("logging_needed", value != 0);
    return result;
}

Result LoggingSet(Host& host, bool on, const std::string& handlerStatus) {
    abi::__IRegistryManagerStatics& statics = host.Session().Registry();
    std::optional<Subscription> subscription;
    if (!handlerStatus.empty()) {
        HRESULT answer = ParseStatus(handlerStatus);
        subscription.emplace(statics, [answer](bool) { return answer; });
    }
    boolean written = 0;
    CheckMember(statics.SetDisconnectionLoggingNeeded(on ? 1 : 0, &written), "SetDisconnectionLoggingNeeded");
    Result result("logging set");
    result.Line(written ? std::string("logging flag written: ") + (on ? "on" : "off")
                        : std::string("logging flag NOT written: ") + kFlagKeyHint);
    result.Set("value", on).Set("written", written != 0);
    return result;
}

// Blocks SIGINT and SIGTERM and gives a descriptor that reads them.
int StopSignalDescriptor() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC);
}

// Reads one line from stdin (blocking); false at end of input.
bool ReadLine(std::string& line) {
    line.clear();
    char c;
    for (;;) {
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line.empty();
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
}

// Writes the flag for one input line and prints what the setter answered.
void ApplyWatchLine(Host& host, const std::string& line, bool json) {
    std::optional<bool> on = ParseSwitch(line);
    if (!on) {
        if (!line.empty()) std::fprintf(stderr, "morvala logging watch: ignored input line \"%s\" (on or off)\n", line.c_str());
        return;
    }
    boolean written = 0;
    HRESULT hr = host.Session().Registry().SetDisconnectionLoggingNeeded(*on ? 1 : 0, &written);
    Json event;
    event.Set("command", "logging set").Set("ok", SUCCEEDED(hr)).Set("value", *on).Set("written", written != 0);
    std::string text = std::string("set ") + (*on ? "on" : "off") + ": " + (written ? "written" : "not written");
    if (FAILED(hr)) text += ", SetDisconnectionLoggingNeeded answered " + DescribeStatus(hr);
    PrintEvent(json, text, std::move(event));
}

Result LoggingWatch(Host& host, int count) {
    bool json = host.options.json;
    int events = 0;
    Subscription subscription(host.Session().Registry(), [&events, json](bool value) {
        ++events;
        Json event;
        event.Set("event", "GPSLoggingSettingsChanged").Set("value", value);
        PrintEvent(json, std::string("event GPSLoggingSettingsChanged: ") + (value ? "on" : "off"), std::move(event));
    });
    int signals = StopSignalDescriptor();
    if (!json) {
        std::printf("watching GPSLoggingSettingsChanged; type on or off to write the flag, Ctrl-C to stop\n");
        std::fflush(stdout);
    }
    std::string reason = "end of input";
    bool inputOpen = true;
    while (count <= 0 || events < count) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            reason = "signal";
            break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            std::string line;
            if (!ReadLine(line)) break;  // no more writes can come from this process
            ApplyWatchLine(host, line, json);
        }
    }
    if (count > 0 && events >= count) reason = "count reached";
    close(signals);
    Result result("logging watch");
    result.Line("watch ended (" + reason + "), " + std::to_string(events) + " event(s)");
    result.Set("events", events).Set("ended_by", reason);
    return result;
}

}  // namespace

void AddLoggingCommands(CLI::App& app, Host& host) {
    CLI::App* logging = app.add_subcommand("logging", "the disconnection-logging flag and its change event (RegistryManager)");
    logging->require_subcommand(1);

    CLI::App* get = logging->add_subcommand("get", "read the flag (GetDisconnectionLoggingNeeded)");
    host.Bind(get, "logging get", [&host] { return LoggingGet(host); });

    CLI::App* set = logging->add_subcommand(
        "set", "write the flag and raise GPSLoggingSettingsChanged (SetDisconnectionLoggingNeeded); "
               "the key Software\\OEM\\MORVALA\\MorCgSvc must exist");
    auto value = AddText(set, "VALUE", "on or off");
    auto handlerStatus = std::make_shared<std::string>();
    set->add_option("--handler-status", *handlerStatus,
                    "subscribe, for this call, a handler that answers STATUS (e.g. 0x80004005): a failure status "
                    "stops the raise and becomes the setter's answer");
    host.Bind(set, "logging set", [&host, value, handlerStatus] {
        std::optional<bool> on = ParseSwitch(*value);
        if (!on) throw CommandFailure(kExitUsage, "VALUE must be on or off, not \"" + *value + "\"");
        return LoggingSet(host, *on, *handlerStatus);
    });

    CLI::App* watch = logging->add_subcommand(
        "watch",
        "subscribe a handler and print each GPSLoggingSettingsChanged event until SIGINT/SIGTERM. The event is "
        "raised in the process that writes the flag, so watch reads lines 'on'/'off' from stdin and writes the "
        "flag itself; it ends when stdin ends, since no further event can come then");
    auto count = std::make_shared<int>(0);
    watch->add_option("--count", *count, "stop after N events (0: no limit)")->check(CLI::NonNegativeNumber);
    host.Bind(watch, "logging watch", [&host, count] { return LoggingWatch(host, *count); });

    CLI::App* exit = app.add_subcommand("exit", "end this process at once with exit code 0 (Utils.ExitApplication)");
    host.Bind(exit, "exit", [&host]() -> Result {
        abi::__IUtilsStatics& utils = host.Session().Utils();
        Result calling("exit");
        calling.Line("calling ExitApplication: the process ends with exit code 0");
        calling.Print(host.options.json);  // ExitProcess flushes nothing
        CheckMember(utils.ExitApplication(), "ExitApplication");
        throw CommandFailure(kExitFailed, "ExitApplication returned, although it ends the process");
    });
}

}  // namespace morvala::cli
