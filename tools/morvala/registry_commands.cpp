// devices, version, brightness and value: the RegistryManager statics that
// work on the settings store, one subcommand per member.
#include "host.h"
#include "unicode.h"

namespace morvala::cli {
namespace {

// devices list: GetDeviceIds.
Result DevicesList(Host& host) {
    platform::ComPtr<IVector_String> ids;
    CheckMember(host.Session().Registry().GetDeviceIds(ids.put()), "GetDeviceIds");
    Result result("devices list");
    Json::Array array;
    for (const std::u16string& id : VectorItems(ids.get())) {
        result.Line(Printable(id));
        array.emplace_back(id);
    }
    if (array.empty()) result.Line("(no devices)");
    result.Set("devices", std::move(array));
    return result;
}

// devices get ID: GetDeviceValues.
Result DevicesGet(Host& host, const std::u16string& id) {
    platform::UniqueHString deviceId = MakeHString(id);
    platform::ComPtr<IMap_String_String> values;
    CheckMember(host.Session().Registry().GetDeviceValues(deviceId.get(), values.put()), "GetDeviceValues");
    Result result("devices get");
    Json object = Json::Object{};
    auto entries = MapEntries(values.get());
    for (const auto& [name, text] : entries) {
        result.Line((name.empty() ? std::string("@") : Printable(name)) + " = " + Printable(text));
        object.Set(name, Json(text));
    }
    if (entries.empty()) result.Line("(no values)");
    result.Set("device", id);
    result.Set("values", std::move(object));
    return result;
}

// devices set ID NAME VALUE: SetDeviceValue.
Result DevicesSet(Host& host, const std::u16string& id, const std::u16string& name, const std::u16string& value) {
    platform::UniqueHString deviceId = MakeHString(id);
    platform::UniqueHString valueName = MakeHString(name);
    platform::UniqueHString text = MakeHString(value);
    CheckMember(host.Session().Registry().SetDeviceValue(deviceId.get(), valueName.get(), text.get()),
                "SetDeviceValue");
    Result result("devices set");
    result.Line("set " + Printable(id) + " " + Printable(name) + " = " + Printable(value));
    result.Set("device", id).Set("name", name).Set("value", value);
    return result;
}

// devices delete ID: DeleteDevice.
Result DevicesDelete(Host& host, const std::u16string& id) {
    platform::UniqueHString deviceId = MakeHString(id);
    CheckMember(host.Session().Registry().DeleteDevice(deviceId.get()), "DeleteDevice");
    Result result("devices delete");
    result.Line("deleted " + Printable(id));
    result.Set("device", id);
    return result;
}

// devices exists ID: DeviceExists.
Result DevicesExists(Host& host, const std::u16string& id) {
    platform::UniqueHString deviceId = MakeHString(id);
    boolean exists = 0;
    CheckMember(host.Session().Registry().DeviceExists(deviceId.get(), &exists), "DeviceExists");
    Result result("devices exists");
    result.Line(exists ? "yes" : "no");
    result.Set("device", id).Set("exists", exists != 0);
    return result;
}

// version set TEXT: SetAccessoriesVersion.
Result VersionSet(Host& host, const std::u16string& version) {
    platform::UniqueHString text = MakeHString(version);
    CheckMember(host.Session().Registry().SetAccessoriesVersion(text.get()), "SetAccessoriesVersion");
    Result result("version set");
    result.Line("accessories version set to " + Printable(version));
    result.Set("version", version);
    return result;
}

// brightness set NAME NUMBER: SetBrightnessValue (the member converts the text).
Result BrightnessSet(Host& host, const std::u16string& name, const std::u16string& number) {
    platform::UniqueHString valueName = MakeHString(name);
    platform::UniqueHString text = MakeHString(number);
    CheckMember(host.Session().Registry().SetBrightnessValue(valueName.get(), text.get()), "SetBrightnessValue");
    Result result("brightness set");
    result.Line("brightness " + Printable(name) + " set from text " + Printable(number));
    result.Set("name", name).Set("text", number);
    return result;
}

// value get KEYPATH NAME: GetRegistryValue.
Result ValueGet(Host& host, const std::u16string& keyPath, const std::u16string& name) {
    platform::UniqueHString path = MakeHString(keyPath);
    platform::UniqueHString valueName = MakeHString(name);
    INT32 found = 0;
    platform::UniqueHString value;
    CheckMember(host.Session().Registry().GetRegistryValue(path.get(), valueName.get(), &found, value.put()),
                "GetRegistryValue");
    std::u16string units = ToU16(value.get());
    Result result("value get");
    result.Line("found: " + std::string(found ? "yes" : "no"));
    result.Line("value: " + Printable(units));
    result.Line("units: " + std::to_string(units.size()));
    result.Set("key", keyPath).Set("name", name).Set("found", found).Set("value", units);
    result.Set("units", static_cast<uint32_t>(units.size()));
    return result;
}

}  // namespace

void AddRegistryCommands(CLI::App& app, Host& host) {
    CLI::App* devices = app.add_subcommand("devices", "accessory device entries (RegistryManager)");
    devices->require_subcommand(1);

    CLI::App* list = devices->add_subcommand("list", "list the device ids (GetDeviceIds)");
    host.Bind(list, "devices list", [&host] { return DevicesList(host); });

    CLI::App* get = devices->add_subcommand("get", "show every value of one device (GetDeviceValues)");
    auto getId = AddText(get, "ID", "device id");
    host.Bind(get, "devices get", [&host, getId] { return DevicesGet(host, ArgumentText(*getId, "ID")); });

    CLI::App* set = devices->add_subcommand("set", "write one text value of a device, creating it (SetDeviceValue)");
    auto setId = AddText(set, "ID", "device id");
    auto setName = AddText(set, "NAME", "value name (empty: the default value)");
    auto setValue = AddText(set, "VALUE", "value text");
    host.Bind(set, "devices set", [&host, setId, setName, setValue] {
        return DevicesSet(host, ArgumentText(*setId, "ID"), ArgumentText(*setName, "NAME"),
                          ArgumentText(*setValue, "VALUE"));
    });

    CLI::App* remove = devices->add_subcommand("delete", "remove one device with all its values (DeleteDevice)");
    auto deleteId = AddText(remove, "ID", "device id");
    host.Bind(remove, "devices delete", [&host, deleteId] { return DevicesDelete(host, ArgumentText(*deleteId, "ID")); });

    CLI::App* exists = devices->add_subcommand("exists", "whether a device of exactly that id is listed (DeviceExists)");
    auto existsId = AddText(exists, "ID", "device id (compared with case)");
    host.Bind(exists, "devices exists", [&host, existsId] { return DevicesExists(host, ArgumentText(*existsId, "ID")); });

    CLI::App* version = app.add_subcommand("version", "the accessories version (RegistryManager)");
    version->require_subcommand(1);
    CLI::App* versionSet = version->add_subcommand("set", "write the accessories Version text (SetAccessoriesVersion)");
    auto versionText = AddText(versionSet, "TEXT", "version text");
    host.Bind(versionSet, "version set", [&host, versionText] { return VersionSet(host, ArgumentText(*versionText, "TEXT")); });

    CLI::App* brightness = app.add_subcommand("brightness", "brightness interface settings (RegistryManager)");
    brightness->require_subcommand(1);
    CLI::App* brightnessSet = brightness->add_subcommand(
        "set", "store a decimal text as a 32-bit number (SetBrightnessValue; text that is not a number stores 0)");
    auto brightnessName = AddText(brightnessSet, "NAME", "value name (empty: the default value)");
    auto brightnessNumber = AddText(brightnessSet, "NUMBER", "decimal text, passed to the member as given (use -- before a negative number)");
    host.Bind(brightnessSet, "brightness set", [&host, brightnessName, brightnessNumber] {
        return BrightnessSet(host, ArgumentText(*brightnessName, "NAME"), ArgumentText(*brightnessNumber, "NUMBER"));
    });

    CLI::App* value = app.add_subcommand("value", "any single value of HKEY_LOCAL_MACHINE (RegistryManager)");
    value->require_subcommand(1);
    CLI::App* valueGet = value->add_subcommand(
        "get", "read one value as UTF-16 units, at most 510 bytes (GetRegistryValue; \"no key\" when absent)");
    auto keyPath = AddText(valueGet, "KEYPATH", "key path below HKEY_LOCAL_MACHINE, e.g. Software\\OEM\\MORVALA\\MorvalaAccessories");
    auto valueName = AddText(valueGet, "NAME", "value name (empty: the default value)");
    host.Bind(valueGet, "value get", [&host, keyPath, valueName] {
        return ValueGet(host, ArgumentText(*keyPath, "KEYPATH"), ArgumentText(*valueName, "NAME"));
    });
}

}  // namespace morvala::cli
