#include "EmulatorScenario.h"

#include "EmulatorBackend.h"

#include <initializer_list>
#include <optional>

namespace
{
// Reads the members of one JSON object, checking names, types and ranges. The first problem
// is kept in `error`; later reads then do nothing.
class ObjectReader
{
public:
    ObjectReader(const juce::var& object, std::string context, std::string& error)
        : m_object(object), m_context(std::move(context)), m_error(error)
    {
        // isObject() alone is not enough: a var can hold an object pointer that is null or not
        // a DynamicObject.
        if (m_error.empty() && object.getDynamicObject() == nullptr)
            fail("", "must be an object");
    }

    bool ok() const noexcept { return m_error.empty(); }

    // Fails when the object has a member not in the list.
    void allowOnly(std::initializer_list<const char*> names)
    {
        if (!ok())
            return;
        auto* object = m_object.getDynamicObject();
        if (object == nullptr)
            return;
        for (const auto& property : object->getProperties())
        {
            bool known = false;
            for (const char* name : names)
                known = known || property.name.toString() == name;
            if (!known)
            {
                fail(property.name.toString().toStdString(), "is not a known setting");
                return;
            }
        }
    }

    bool has(const char* name) const { return ok() && m_object.hasProperty(name); }
    juce::var get(const char* name) const { return m_object.getProperty(name, juce::var()); }

    // An integer in [min, max], written as a JSON number or a decimal or 0x string.
    template <typename T>
    void number(const char* name, T& out, int64_t min, int64_t max)
    {
        if (!has(name))
            return;
        const auto value = toInteger(get(name));
        if (!value || *value < min || *value > max)
        {
            fail(name, "must be an integer from " + std::to_string(min) + " to " + std::to_string(max));
            return;
        }
        out = static_cast<T>(*value);
    }

    void flag(const char* name, bool& out)
    {
        if (!has(name))
            return;
        const juce::var value = get(name);
        if (!value.isBool())
        {
            fail(name, "must be true or false");
            return;
        }
        out = static_cast<bool>(value);
    }

    void text(const char* name, std::string& out, size_t maxLength)
    {
        if (!has(name))
            return;
        const juce::var value = get(name);
        const std::string s = value.toString().toStdString();
        if (!value.isString() || s.size() > maxLength)
        {
            fail(name, "must be a text of at most " + std::to_string(maxLength) + " bytes");
            return;
        }
        out = s;
    }

    void fail(const std::string& name, const std::string& problem)
    {
        if (ok())
            m_error = m_context + (name.empty() ? "" : "." + name) + " " + problem;
    }

    const std::string& context() const noexcept { return m_context; }

    static std::optional<int64_t> toInteger(const juce::var& value)
    {
        if (value.isInt() || value.isInt64())
            return static_cast<int64_t>(static_cast<juce::int64>(value));
        if (value.isDouble())
        {
            const double d = value;
            if (d != static_cast<double>(static_cast<int64_t>(d)))
                return std::nullopt;
            return static_cast<int64_t>(d);
        }
        if (!value.isString())
            return std::nullopt;
        const juce::String s = value.toString().trim().toLowerCase();
        if (s.startsWith("0x") && s.length() > 2 && s.length() <= 10 && s.substring(2).containsOnly("0123456789abcdef"))
            return s.substring(2).getHexValue64();
        const juce::String digits = s.startsWith("-") ? s.substring(1) : s;
        if (digits.isNotEmpty() && digits.length() <= 12 && digits.containsOnly("0123456789"))
            return s.getLargeIntValue();
        return std::nullopt;
    }

private:
    juce::var m_object;
    std::string m_context;
    std::string& m_error;
};

// "kestrane" and "partner" stand for the configured ids, so that one scenario fits every build.
void readUsbIds(ObjectReader& in, EmulatedDeviceConfig& config)
{
    config.vendorId = KESTRANE_USB_VENDOR_ID;
    config.productId = 0x0010;
    const juce::var vendor = in.get("vendorId");
    if (vendor.toString() == "kestrane")
        config.vendorId = KESTRANE_USB_VENDOR_ID;
    else if (vendor.toString() == "partner")
        config.vendorId = PARTNER_USB_VENDOR_ID;
    else
        in.number("vendorId", config.vendorId, 0, 0xFFFF);

    if (in.get("productId").toString() == "partner")
        config.productId = PARTNER_USB_PRODUCT_ID;
    else
        in.number("productId", config.productId, 0, 0xFFFF);
}

// "major.minor.build" into the packed 32-bit form, or a plain number.
void readVersion(ObjectReader& in, const char* name, uint32_t& out)
{
    if (!in.has(name))
        return;
    const juce::var value = in.get(name);
    if (value.isString() && value.toString().contains("."))
    {
        juce::StringArray parts;
        parts.addTokens(value.toString(), ".", "");
        const auto major = ObjectReader::toInteger(parts[0]);
        const auto minor = ObjectReader::toInteger(parts[1]);
        const auto build = ObjectReader::toInteger(parts[2]);
        if (parts.size() != 3 || !major || !minor || !build || *major < 0 || *major > 255 || *minor < 0
            || *minor > 255 || *build < 0 || *build > 0xFFFF)
        {
            in.fail(name, "must be major.minor.build (0-255, 0-255, 0-65535)");
            return;
        }
        out = static_cast<uint32_t>((*major << 24) | (*minor << 16) | *build);
        return;
    }
    in.number(name, out, 0, 0xFFFFFFFFll);
}

void readFaults(const juce::var& object, const std::string& context, EmulatedDeviceConfig& config, std::string& error)
{
    ObjectReader in(object, context, error);
    in.allowOnly({ "openFails", "attributesReadable", "descriptorParsable", "serialStringReadable", "stuckBusy",
                   "neverAnswers", "requestBoundMs", "failReports", "corruptReadAddress", "storeWrongAddress", "nonBlankAfterErase", "unplugAfterExchanges",
                   "unplugAfterWriteAddress", "appearAtMs",
                   "vanishAtMs", "replugAtMs" });
    in.flag("openFails", config.openFails);
    in.flag("attributesReadable", config.attributesReadable);
    in.flag("descriptorParsable", config.descriptorParsable);
    in.flag("serialStringReadable", config.serialStringReadable);
    in.flag("stuckBusy", config.stuckBusy);
    in.flag("neverAnswers", config.neverAnswers);
    int64_t boundMs = config.requestBound.count();
    in.number("requestBoundMs", boundMs, 1, 60000);
    config.requestBound = std::chrono::milliseconds(boundMs);
    if (in.has("corruptReadAddress"))
    {
        config.corruptRead = true;
        in.number("corruptReadAddress", config.corruptReadAddress, 0, 0xFFFFFFFFll);
    }
    if (in.has("storeWrongAddress"))
    {
        config.storeWrong = true;
        in.number("storeWrongAddress", config.storeWrongAddress, 0, 0xFFFFFFFFll);
    }
    in.number("unplugAfterExchanges", config.unplugAfterExchanges, 0, int64_t { 1 } << 40);
    if (in.has("unplugAfterWriteAddress"))
    {
        config.unplugAfterWrite = true;
        in.number("unplugAfterWriteAddress", config.unplugAfterWriteAddress, 0, 0xFFFFFFFFll);
    }
    int64_t appear = 0;
    int64_t vanish = -1;
    in.number("appearAtMs", appear, 0, 24ll * 3600 * 1000);
    in.number("vanishAtMs", vanish, -1, 24ll * 3600 * 1000);
    config.appearAt = std::chrono::milliseconds(appear);
    config.vanishAt = std::chrono::milliseconds(vanish);
    int64_t replug = -1;
    in.number("replugAtMs", replug, -1, 24ll * 3600 * 1000);
    if (replug >= 0 && (replug <= appear || (vanish >= 0 && replug <= vanish)))
        in.fail("replugAtMs", "must come after appearAtMs and vanishAtMs");
    config.replugAt = std::chrono::milliseconds(replug);

    if (in.has("nonBlankAfterErase"))
    {
        ObjectReader range(in.get("nonBlankAfterErase"), context + ".nonBlankAfterErase", error);
        range.allowOnly({ "address", "length" });
        range.number("address", config.nonBlankAddress, 0, 0xFFFFFFFFll);
        range.number("length", config.nonBlankLength, 0, kMaxEmulatedFlashBytes);
    }

    if (in.has("failReports"))
    {
        const juce::var list = in.get("failReports");
        if (!list.isArray() || list.size() > 64)
        {
            in.fail("failReports", "must be a list of at most 64 entries");
            return;
        }
        for (int i = 0; i < list.size() && error.empty(); ++i)
        {
            ObjectReader entry(list[i], context + ".failReports[" + std::to_string(i) + "]", error);
            entry.allowOnly({ "reportId", "direction", "nth", "count" });
            ReportFault fault;
            entry.number("reportId", fault.reportId, -1, 255);
            const juce::String direction = entry.get("direction").toString();
            if (direction == "in")
                fault.direction = ReportDirection::Input;
            else if (direction == "out")
                fault.direction = ReportDirection::Output;
            else if (entry.has("direction") && direction != "any")
                entry.fail("direction", "must be \"in\", \"out\" or \"any\"");
            entry.number("nth", fault.nth, 1, int64_t { 1 } << 40);
            entry.number("count", fault.count, 0, int64_t { 1 } << 40);
            config.failReports.push_back(fault);
        }
    }
}

bool readDevice(const juce::var& object, int index, EmulatedDeviceConfig& out, std::string& error)
{
    const std::string context = "devices[" + std::to_string(index) + "]";
    ObjectReader in(object, context, error);
    in.allowOnly({ "vendorId", "productId", "foreign", "path", "name", "serialNumber", "productCode", "revision",
                   "variant", "runningVersion", "infoFormat", "flash", "installed", "timing", "faults",
                   "flashFile" });
    if (!in.ok())
        return false;

    bool foreign = false;
    in.flag("foreign", foreign);

    TovrakIdentity id;
    in.text("name", id.name, EmulatedDeviceInfo::kNameSize);
    in.text("serialNumber", id.serialNumber, EmulatedDeviceInfo::kSerialSize);
    in.number("productCode", id.productCode, 0, 0xFFFF);
    std::string revision(1, static_cast<char>(id.hardwareRevision));
    in.text("revision", revision, 1);
    if (revision.size() != 1)
        in.fail("revision", "must be one character");
    else
        id.hardwareRevision = static_cast<uint8_t>(revision[0]);
    in.number("variant", id.productVariant, 0, 0xFF);
    readVersion(in, "runningVersion", id.runningFirmwareVersion);
    in.number("infoFormat", id.infoFormat, 0, 0xFFFF);

    uint32_t flashSize = 16u * 1024u * 1024u;
    uint8_t flashFill = 0xFF;
    if (in.has("flash"))
    {
        ObjectReader flash(in.get("flash"), context + ".flash", error);
        flash.allowOnly({ "size", "eraseUnitSize", "firmwareBaseAddress", "fill" });
        flash.number("size", flashSize, EmulatedFlash::kPageSize, kMaxEmulatedFlashBytes);
        flash.number("eraseUnitSize", id.eraseUnitSize, 0, 0xFFFFFFFFll);
        flash.number("firmwareBaseAddress", id.firmwareBaseAddress, 0, 0xFFFFFFFFll);
        flash.number("fill", flashFill, 0, 0xFF);
    }

    bool installed = true;
    std::vector<InstalledSection> installedSections;
    bool explicitVersion = false;
    uint32_t installedVersion = 0;
    if (in.has("installed"))
    {
        const juce::var value = in.get("installed");
        if (value.isBool())
            installed = static_cast<bool>(value);
        else
        {
            ObjectReader header(value, context + ".installed", error);
            header.allowOnly({ "compatibilityCode", "firmwareVersion", "sections" });
            header.number("compatibilityCode", id.installedCompatibilityCode, 0, 0xFFFF);
            explicitVersion = header.has("firmwareVersion");
            readVersion(header, "firmwareVersion", installedVersion);
            if (header.has("sections"))
            {
                const juce::var list = header.get("sections");
                if (!list.isArray() || list.size() > 3)
                    header.fail("sections", "must be a list of at most 3 sections");
                for (int i = 0; list.isArray() && i < list.size() && i < 3 && error.empty(); ++i)
                {
                    ObjectReader entry(list[i], context + ".installed.sections[" + std::to_string(i) + "]", error);
                    entry.allowOnly({ "name", "address", "length", "seed" });
                    InstalledSection section;
                    entry.text("name", section.name, 16);
                    entry.number("address", section.address, 0, 0xFFFFFFFFll);
                    entry.number("length", section.length, 0, kMaxEmulatedFlashBytes);
                    entry.number("seed", section.seed, 0, 0xFF);
                    installedSections.push_back(section);
                }
            }
        }
    }
    if (!error.empty())
        return false;

    out = makeTovrakDeviceConfig(id);
    readUsbIds(in, out);
    in.text("path", out.path, 4096);
    out.flashSize = flashSize;
    out.flashFill = flashFill;
    in.text("flashFile", out.flashFile, 4096);
    if (!installed)
        out.installedHeader.clear();
    else if (explicitVersion || !installedSections.empty())
        out.installedHeader = makeInstalledHeader(id.productCode, id.hardwareRevision, id.productVariant,
                                                  explicitVersion ? installedVersion
                                                                  : headerVersionMatchingRunning(id.runningFirmwareVersion),
                                                  id.installedCompatibilityCode, installedSections);
    if (installed)
        for (const InstalledSection& section : installedSections)
            out.installedData.emplace_back(section.address, installedSectionBytes(section));
    if (foreign)
    {
        const EmulatedDeviceConfig foreignConfig = makeForeignDeviceConfig(out.vendorId, out.productId);
        const std::string path = out.path;
        out = foreignConfig;
        out.path = path;
    }

    if (in.has("timing"))
    {
        ObjectReader timing(in.get("timing"), context + ".timing", error);
        timing.allowOnly({ "latencyMs", "busyPolls", "busyMs" });
        int64_t latencyMs = 0;
        int64_t busyMs = 0;
        timing.number("latencyMs", latencyMs, 0, 10000);
        timing.number("busyPolls", out.busyPolls, 0, 1000000);
        timing.number("busyMs", busyMs, 0, 600000);
        out.latency = std::chrono::milliseconds(latencyMs);
        out.busyTime = std::chrono::milliseconds(busyMs);
    }
    if (in.has("faults"))
        readFaults(in.get("faults"), context + ".faults", out, error);
    return error.empty();
}
// JUCE's JSON reader overflows a signed integer on number literals of more than 18 digits, so
// such literals are refused before it sees them. Digits inside strings are left alone. Works on
// the bytes: quotes, backslashes and digits never occur inside a multi-byte UTF-8 sequence.
bool hasOverlongNumber(const std::string& text)
{
    bool inString = false;
    bool escaped = false;
    int digits = 0;
    for (const char c : text)
    {
        if (inString)
        {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        digits = (c >= '0' && c <= '9') ? digits + 1 : 0;
        if (digits > 18)
            return true;
    }
    return false;
}
} // namespace

bool parseEmulatorScenario(const std::string& text, std::vector<EmulatedDeviceConfig>& devices, std::string& error)
{
    devices.clear();
    error.clear();
    // The JSON reader walks the text character by character and would run past the end of a
    // broken multi-byte sequence: only valid UTF-8 without NUL bytes goes in.
    if (text.find('\0') != std::string::npos
        || !juce::CharPointer_UTF8::isValidString(text.data(), static_cast<int>(text.size())))
    {
        error = "not valid UTF-8 text";
        return false;
    }
    if (hasOverlongNumber(text))
    {
        error = "a number of more than 18 digits";
        return false;
    }
    juce::var root;
    const juce::Result parsed = juce::JSON::parse(juce::String::fromUTF8(text.data(), static_cast<int>(text.size())), root);
    if (parsed.failed())
    {
        error = "not valid JSON: " + parsed.getErrorMessage().toStdString();
        return false;
    }
    ObjectReader in(root, "scenario", error);
    in.allowOnly({ "devices", "comment" });
    if (!in.ok())
        return false;
    const juce::var list = in.get("devices");
    if (!list.isArray() || list.size() > 256)
    {
        error = "scenario.devices must be a list of at most 256 devices";
        return false;
    }
    for (int i = 0; i < list.size(); ++i)
    {
        EmulatedDeviceConfig config;
        if (!readDevice(list[i], i, config, error))
        {
            devices.clear();
            return false;
        }
        devices.push_back(std::move(config));
    }
    return true;
}

bool loadEmulatorScenario(const juce::File& file, EmulatorBackend& backend, std::string& error)
{
    if (!file.existsAsFile())
    {
        error = "no scenario file " + file.getFullPathName().toStdString();
        return false;
    }
    if (file.getSize() > kMaxScenarioFileBytes)
    {
        error = "scenario file larger than " + std::to_string(kMaxScenarioFileBytes) + " bytes";
        return false;
    }
    std::vector<EmulatedDeviceConfig> devices;
    juce::MemoryBlock bytes;
    if (!file.loadFileAsData(bytes))
    {
        error = "cannot read " + file.getFullPathName().toStdString();
        return false;
    }
    std::string text;
    if (bytes.getSize() > 0)
        text.assign(static_cast<const char*>(bytes.getData()), bytes.getSize());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3); // byte-order mark
    if (!parseEmulatorScenario(text, devices, error))
        return false;
    for (auto& config : devices)
    {
        // A kept flash lives beside the scenario unless its path is absolute.
        if (!config.flashFile.empty())
            config.flashFile = file.getParentDirectory().getChildFile(juce::String::fromUTF8(config.flashFile.c_str()))
                                   .getFullPathName().toStdString();
        backend.add(std::move(config));
    }
    return true;
}
