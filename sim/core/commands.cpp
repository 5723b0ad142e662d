#include "core/commands.h"

#include "core/bench.h"
#include "core/pen.h"
#include "core/stroke.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>

namespace padsim {

namespace {

using Words = std::vector<std::string>;

struct Failure
{
    std::string reason;
};

std::string lines(const std::vector<std::string> &body)
{
    std::string reply = "ok " + std::to_string(body.size());
    for (const std::string &line : body)
        reply += "\n" + line;
    return reply;
}

int number(const std::string &text, int low, int high, const char *what)
{
    size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used, 10);
    } catch (...) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < low || value > high)
        throw Failure{std::string(what) + " must be a number from " + std::to_string(low) + " to " +
                      std::to_string(high)};
    return static_cast<int>(value);
}

// `[serial S] [bus N] [port N] [class N] [subclass N]` after the first words.
std::map<std::string, std::string> options(const Words &words, size_t from, const Words &allowed)
{
    std::map<std::string, std::string> found;
    for (size_t i = from; i < words.size(); i += 2) {
        if (std::find(allowed.begin(), allowed.end(), words[i]) == allowed.end())
            throw Failure{"unexpected '" + words[i] + "'"};
        if (i + 1 >= words.size())
            throw Failure{"'" + words[i] + "' needs a value"};
        found[words[i]] = words[i + 1];
    }
    return found;
}

// "t330|qz07|kz07": every model, in the order listed.
std::string modelNames()
{
    std::string names;
    for (const PadModel *model : allModels())
        names += (names.empty() ? "" : "|") + std::string(model->name);
    return names;
}

void placeDevice(Bench &bench, UsbIdentity &usb, const std::map<std::string, std::string> &opts)
{
    usb.bus = static_cast<uint8_t>(opts.count("bus") ? number(opts.at("bus"), 0, 255, "bus") : 1);
    usb.port = opts.count("port") ? static_cast<uint8_t>(number(opts.at("port"), 0, 255, "port"))
                                  : bench.freePort(usb.bus);
    if (opts.count("class"))
        usb.deviceClass = static_cast<uint8_t>(number(opts.at("class"), 0, 255, "class"));
    if (opts.count("subclass"))
        usb.deviceSubclass = static_cast<uint8_t>(number(opts.at("subclass"), 0, 255, "subclass"));
    for (const auto &device : bench.devices) {
        if (device->usb.bus == usb.bus && device->usb.port == usb.port)
            throw Failure{"bus " + std::to_string(usb.bus) + " port " + std::to_string(usb.port) + " is taken"};
    }
    usb.address = bench.nextAddress();
}

std::string plug(Bench &bench, Words words)
{
    if (words.size() < 2)
        throw Failure{"usage: plug " + modelNames() + " [serial S|no-serial] [bus N] [port N] [class N] [subclass N]"};
    const PadModel *model = findModel(words[1]);
    if (!model)
        throw Failure{"unknown pad model '" + words[1] + "'"};
    // A pad without a serial number: the one option that takes no value.
    const auto noSerial = std::find(words.begin() + 2, words.end(), "no-serial");
    const bool hasSerial = noSerial == words.end();
    if (!hasSerial)
        words.erase(noSerial);
    const auto opts = options(words, 2, {"serial", "bus", "port", "class", "subclass"});
    if (!hasSerial && opts.count("serial"))
        throw Failure{"'serial' and 'no-serial' exclude each other"};
    UsbIdentity usb;
    usb.vid = model->vid;
    usb.pid = model->pid;
    placeDevice(bench, usb, opts);
    const std::string serial = !hasSerial ? "" : opts.count("serial") ? opts.at("serial") : model->defaultSerial;
    return "ok plugged " + bench.attach(usb, model, serial)->describe();
}

std::string plugUsb(Bench &bench, const Words &words)
{
    UsbIdentity usb;
    if (words.size() < 2 || !parseId(words[1], usb.vid, usb.pid))
        throw Failure{"usage: plug-usb VID:PID [bus N] [port N] [class N] [subclass N]"};
    placeDevice(bench, usb, options(words, 2, {"bus", "port", "class", "subclass"}));
    return "ok plugged " + bench.attach(usb, nullptr, "")->describe();
}

std::string unplug(Bench &bench, const Words &words)
{
    if (words.size() < 2)
        throw Failure{"usage: unplug VID:PID|" + modelNames() + " [bus N] [port N]"};
    uint16_t vid = 0, pid = 0;
    if (const PadModel *model = findModel(words[1])) {
        vid = model->vid;
        pid = model->pid;
    } else if (!parseId(words[1], vid, pid)) {
        throw Failure{"unknown device '" + words[1] + "'"};
    }
    const auto opts = options(words, 2, {"bus", "port"});
    for (const auto &device : bench.devices) {
        if (device->usb.vid != vid || device->usb.pid != pid)
            continue;
        if (opts.count("bus") && device->usb.bus != number(opts.at("bus"), 0, 255, "bus"))
            continue;
        if (opts.count("port") && device->usb.port != number(opts.at("port"), 0, 255, "port"))
            continue;
        const std::shared_ptr<Device> gone = device;
        bench.detach(gone);
        return "ok unplugged " + gone->describe();
    }
    throw Failure{"nothing attached matches '" + words[1] + "'"};
}

// The pad the host has open, else the first pad attached.
std::shared_ptr<Device> targetPad(Bench &bench)
{
    std::shared_ptr<Device> first;
    for (const auto &device : bench.devices) {
        if (device->model && device->handle)
            return device;
        if (device->model && !first)
            first = device;
    }
    if (!first)
        throw Failure{"no pad attached"};
    return first;
}

std::string report(Bench &bench, const Words &words)
{
    std::string hex;
    for (size_t i = 1; i < words.size(); ++i)
        hex += words[i];
    Bytes bytes;
    if (hex.empty() || !parseHex(hex, bytes))
        throw Failure{"usage: report HEX"};
    const auto device = targetPad(bench);
    if (!device->handle)
        throw Failure{"no pad is open"};
    bench.deliver(*device, bytes);
    return "ok queued " + std::to_string(device->handle->unread.size());
}

std::string pen(Bench &bench, const Words &words)
{
    if (words.size() != 4)
        throw Failure{"usage: pen X Y P"};
    const PenSample sample{number(words[1], 0, 65535, "X"), number(words[2], 0, 65535, "Y"),
                           number(words[3], 0, 65535, "P")};
    return "ok sent " + std::to_string(movePen(*targetPad(bench), {sample}));
}

std::string button(Bench &bench, const Words &words)
{
    Button which;
    if (words.size() != 2 || !parseButton(words[1], which))
        throw Failure{"usage: button confirm|resign|cancel"};
    return "ok sent " + std::to_string(pressButton(*targetPad(bench), which));
}

std::string reply(Bench &bench, const Words &words)
{
    Bytes bytes;
    if (words.size() != 2 || !parseHex(words[1], bytes) || bytes.empty())
        throw Failure{"usage: reply HEX"};
    const auto device = targetPad(bench);
    if (!device->pad->answersQueries())
        throw Failure{std::string(device->model->name) + " answers no queries"};
    device->pad->replaceNextAnswer(bytes);
    return "ok next answer set";
}

// How far the host's reading has come on the open pad: the reports it has
// not taken yet, its threads waiting inside a read now, and the reports lost
// since it opened the pad because it fell a full queue behind. "unread 0
// waiting 1" after the pad sent something means the host took every report
// and is back for more: whatever it does with a report it did before it read
// again. A test waits on this instead of guessing how long the host needs.
std::string reader(Bench &bench, const Words &words)
{
    if (words.size() != 1)
        throw Failure{"usage: reader"};
    const auto device = targetPad(bench);
    if (!device->handle)
        throw Failure{"no pad is open"};
    return "ok unread " + std::to_string(device->handle->unread.size()) + " waiting "
           + std::to_string(device->handle->readers) + " dropped " + std::to_string(device->handle->dropped);
}

std::string looks(Bench &bench, const Words &words)
{
    if (words.size() != 1)
        throw Failure{"usage: looks"};
    return "ok looks " + std::to_string(bench.hostLooks);
}

std::string fault(Bench &bench, const Words &words)
{
    if (words.size() < 2)
        throw Failure{"usage: fault none|stall|fail-open|fail-write|fail-start|fail-read|fail-list|fail-init|"
                      "fail-hotplug|fail-descriptor|fail-string ..."};
    Faults faults = bench.faults;
    for (size_t i = 1; i < words.size(); ++i) {
        if (!faults.set(words[i]))
            throw Failure{"unknown fault '" + words[i] + "'"};
    }
    bench.faults = faults;
    bench.changed.notify_all();   // waiting reads see fail-read at once
    return "ok faults " + faults.describe();
}

std::string hotplug(Bench &bench, const Words &words)
{
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
        throw Failure{"usage: hotplug on|off"};
    bench.hotplugCapable = words[1] == "on";
    return "ok hotplug " + words[1];
}

std::string log(Bench &bench, const Words &words)
{
    if (words.size() == 2 && words[1] == "clear") {
        bench.callLog.clear();
        return "ok cleared";
    }
    if (words.size() != 1)
        throw Failure{"usage: log [clear]"};
    return lines({bench.callLog.begin(), bench.callLog.end()});
}

// Back to a bare bench: everything pulled out, no faults, an empty log.
std::string reset(Bench &bench)
{
    while (!bench.devices.empty())
        bench.detach(bench.devices.back());
    bench.faults = Faults();
    bench.hotplugCapable = bench.hotplugByDefault();
    bench.callLog.clear();
    return "ok reset";
}

std::string status(Bench &bench)
{
    std::vector<std::string> body;
    for (const auto &device : bench.devices)
        body.push_back(device->describe());
    body.push_back(std::string("hotplug ") + (bench.hotplugCapable ? "on" : "off"));
    body.push_back("faults " + bench.faults.describe());
    std::string contexts = "contexts " + std::to_string(bench.contexts.size()) + " log-levels";
    size_t callbacks = 0;
    for (libusb_context *context : bench.contexts) {
        contexts += " " + std::to_string(context->logLevel);
        callbacks += context->callbacks.size();
    }
    body.push_back(contexts + " callbacks " + std::to_string(callbacks));
    body.push_back("stroke " + StrokePlayer::instance().progress());
    return lines(body);
}

std::string help()
{
    return lines({
        "plug " + modelNames() + " [serial S|no-serial] [bus N] [port N] [class N] [subclass N]",
        "plug-usb VID:PID [bus N] [port N] [class N] [subclass N]",
        "unplug VID:PID|" + modelNames() + " [bus N] [port N]",
        "report HEX",
        "reply HEX",
        "pen X Y P",
        "button confirm|resign|cancel",
        "stroke FILE|demo [rate HZ|max] | stroke stop",
        "reader",
        "looks",
        "fault none|stall|fail-open|fail-write|fail-start|fail-read|fail-list|fail-init|fail-hotplug|fail-descriptor|"
        "fail-string",
        "hotplug on|off",
        "log [clear]",
        "status",
        "reset",
    });
}

// `stroke` plays on its own thread, which takes the bench's lock itself.
std::string stroke(const Words &words)
{
    if (words.size() == 2 && words[1] == "stop") {
        StrokePlayer::instance().stop();
        return "ok stopped";
    }
    if (words.size() != 2 && !(words.size() == 4 && words[2] == "rate"))
        throw Failure{"usage: stroke FILE|demo [rate HZ|max] | stroke stop"};
    const bool flood = words.size() == 4 && words[3] == "max";
    const int rate = words.size() == 4 ? (flood ? 0 : number(words[3], 1, kMaxStrokeRate, "rate")) : kDefaultStrokeRate;
    std::shared_ptr<Device> device;
    {
        Bench &bench = Bench::instance();
        std::lock_guard<std::mutex> lock(bench.mutex);
        device = targetPad(bench);
    }
    std::vector<StrokeStep> steps;
    std::string error;
    if (words[1] == "demo")
        steps = demoSignature(*device->model);
    else if (!loadStroke(words[1], steps, error))
        throw Failure{error};
    const size_t count = steps.size();
    const auto start = StrokePlayer::instance().play(device, std::move(steps), rate);
    // The monotonic clock is the whole machine's: a benchmark in another
    // process can time the pen samples from it.
    const long long startNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    return "ok stroke " + std::to_string(count) + " steps at " + (flood ? std::string("max") : std::to_string(rate) + " Hz")
           + " from " + std::to_string(startNs);
}

} // namespace

std::string runCommand(const std::string &line)
{
    Words words;
    std::istringstream stream(line);
    for (std::string word; stream >> word;)
        words.push_back(word);
    if (words.empty())
        return "error: empty command";
    try {
        const std::string &name = words[0];
        if (name == "stroke")
            return stroke(words);
        if (name == "help")
            return help();
        if (name == "reset")
            StrokePlayer::instance().stop();
        Bench &bench = Bench::instance();
        std::lock_guard<std::mutex> lock(bench.mutex);
        if (name == "plug")
            return plug(bench, words);
        if (name == "plug-usb")
            return plugUsb(bench, words);
        if (name == "unplug")
            return unplug(bench, words);
        if (name == "report")
            return report(bench, words);
        if (name == "reply")
            return reply(bench, words);
        if (name == "pen")
            return pen(bench, words);
        if (name == "button")
            return button(bench, words);
        if (name == "reader")
            return reader(bench, words);
        if (name == "looks")
            return looks(bench, words);
        if (name == "fault")
            return fault(bench, words);
        if (name == "hotplug")
            return hotplug(bench, words);
        if (name == "log")
            return log(bench, words);
        if (name == "status")
            return status(bench);
        if (name == "reset")
            return reset(bench);
        return "error: unknown command '" + name + "' (try help)";
    } catch (const Failure &failure) {
        return "error: " + failure.reason;
    }
}

} // namespace padsim
