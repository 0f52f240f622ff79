#include "host.h"

#include "unicode.h"

namespace morvala::cli {

ComponentSession& Host::Session() {
    if (!session_) session_.emplace(options);
    return *session_;
}

void Host::Bind(CLI::App* command, std::string name, std::function<Result()> work) {
    command->callback([this, name = std::move(name), work = std::move(work)] {
        chosenName_ = name;
        chosenWork_ = work;
    });
}

std::u16string ArgumentText(const std::string& value, const char* what) {
    std::optional<std::u16string> text = Utf8ToUtf16(value);
    if (!text) throw CommandFailure(kExitUsage, std::string(what) + " is not valid UTF-8 text");
    return *text;
}

std::shared_ptr<std::string> AddText(CLI::App* command, const char* name, const char* description) {
    auto value = std::make_shared<std::string>();
    command->add_option(name, *value, description)->required();
    return value;
}

}  // namespace morvala::cli
