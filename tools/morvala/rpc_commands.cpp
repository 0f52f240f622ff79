// rpc ...: the seven RpcWrapper members, each on a new RpcWrapper instance.
// A service that cannot be reached gives the member's default result.
#include "host.h"
#include "unicode.h"

namespace morvala::cli {
namespace {

using Wrapper = platform::ComPtr<abi::__IRpcWrapperPublicNonVirtuals>;

Result BooleanResult(const char* command, boolean value) {
    Result result(command);
    result.Line(value ? "true" : "false");
    result.Set("result", value != 0);
    return result;
}

Result TextResult(const char* command, HSTRING value) {
    std::u16string text = ToU16(value);
    Result result(command);
    result.Line(Printable(text));
    result.Set("result", text);
    return result;
}

Result SendText(Host& host, const std::u16string& text) {
    Wrapper wrapper = host.Session().NewRpcWrapper();
    platform::UniqueHString argument = MakeHString(text);
    CheckMember(wrapper->SendConnectionServiceText(argument.get()), "SendConnectionServiceText");
    Result result("rpc send-text");
    result.Line("sent");
    return result;
}

Result AccessoryFlag(Host& host) {
    Wrapper wrapper = host.Session().NewRpcWrapper();
    boolean value = 0;
    CheckMember(wrapper->GetAccessoryServiceFlag(&value), "GetAccessoryServiceFlag");
    return BooleanResult("rpc accessory-flag", value);
}

Result SendAccessoryTexts(Host& host, const std::u16string& a, const std::u16string& b, const std::u16string& c) {
    Wrapper wrapper = host.Session().NewRpcWrapper();
    platform::UniqueHString first = MakeHString(a);
    platform::UniqueHString second = MakeHString(b);
    platform::UniqueHString third = MakeHString(c);
    boolean value = 0;
    CheckMember(wrapper->SendAccessoryServiceTexts(first.get(), second.get(), third.get(), &value),
                "SendAccessoryServiceTexts");
    return BooleanResult("rpc send-accessory-texts", value);
}

Result SendNonEmptyText(Host& host, const std::u16string& text) {
    Wrapper wrapper = host.Session().NewRpcWrapper();
    platform::UniqueHString argument = MakeHString(text);
    CheckMember(wrapper->SendConnectionServiceNonEmptyText(argument.get()), "SendConnectionServiceNonEmptyText");
    Result result("rpc send-nonempty-text");
    result.Line(text.empty() ? "not sent (empty text)" : "sent");
    return result;
}

Result CheckText(Host& host, const std::u16string& text) {
    Wrapper wrapper = host.Session().NewRpcWrapper();
    platform::UniqueHString argument = MakeHString(text);
    boolean value = 0;
    CheckMember(wrapper->CheckConnectionServiceText(argument.get(), &value), "CheckConnectionServiceText");
    return BooleanResult("rpc check-text", value);
}

Result ConnectionText(Host& host) {
    Wrapper wrapper = host.Session().NewRpcWrapper();
    platform::UniqueHString value;
    CheckMember(wrapper->GetConnectionServiceText(value.put()), "GetConnectionServiceText");
    return TextResult("rpc connection-text", value.get());
}

Result AccessoryText(Host& host) {
    Wrapper wrapper = host.Session().NewRpcWrapper();
    platform::UniqueHString value;
    CheckMember(wrapper->GetAccessoryServiceText(value.put()), "GetAccessoryServiceText");
    return TextResult("rpc accessory-text", value.get());
}

}  // namespace

void AddRpcCommands(CLI::App& app, Host& host) {
    CLI::App* rpc = app.add_subcommand(
        "rpc", "RpcWrapper members: calls to the connection and accessory services (unreachable: default result)");
    rpc->require_subcommand(1);

    CLI::App* sendText = rpc->add_subcommand("send-text", "send a text to the connection service (SendConnectionServiceText)");
    auto sendTextArg = AddText(sendText, "TEXT", "text to send");
    host.Bind(sendText, "rpc send-text", [&host, sendTextArg] { return SendText(host, ArgumentText(*sendTextArg, "TEXT")); });

    CLI::App* flag = rpc->add_subcommand("accessory-flag", "the accessory service's flag (GetAccessoryServiceFlag; false when unreachable)");
    host.Bind(flag, "rpc accessory-flag", [&host] { return AccessoryFlag(host); });

    CLI::App* texts = rpc->add_subcommand(
        "send-accessory-texts", "send three texts to the accessory service (SendAccessoryServiceTexts; false when unreachable)");
    auto a = AddText(texts, "A", "first text");
    auto b = AddText(texts, "B", "second text");
    auto c = AddText(texts, "C", "third text");
    host.Bind(texts, "rpc send-accessory-texts", [&host, a, b, c] {
        return SendAccessoryTexts(host, ArgumentText(*a, "A"), ArgumentText(*b, "B"), ArgumentText(*c, "C"));
    });

    CLI::App* nonEmpty = rpc->add_subcommand(
        "send-nonempty-text", "send a non-empty text to the connection service (SendConnectionServiceNonEmptyText; an empty one is not sent)");
    auto nonEmptyArg = AddText(nonEmpty, "TEXT", "text to send");
    host.Bind(nonEmpty, "rpc send-nonempty-text",
              [&host, nonEmptyArg] { return SendNonEmptyText(host, ArgumentText(*nonEmptyArg, "TEXT")); });

    CLI::App* check = rpc->add_subcommand(
        "check-text", "whether the connection service knows the text (CheckConnectionServiceText; false when unreachable)");
    auto checkArg = AddText(check, "TEXT", "text to check");
    host.Bind(check, "rpc check-text", [&host, checkArg] { return CheckText(host, ArgumentText(*checkArg, "TEXT")); });

    CLI::App* connectionText = rpc->add_subcommand(
        "connection-text", "the connection service's version text (GetConnectionServiceText; 0.0.0.0 when unreachable)");
    host.Bind(connectionText, "rpc connection-text", [&host] { return ConnectionText(host); });

    CLI::App* accessoryText = rpc->add_subcommand(
        "accessory-text", "the accessory service's version text (GetAccessoryServiceText; 0.0.0.0 when unreachable)");
    host.Bind(accessoryText, "rpc accessory-text", [&host] { return AccessoryText(host); });
}

}  // namespace morvala::cli
