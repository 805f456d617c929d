// tovrak-uhid: serves the devices of an emulator scenario as kernel HID devices through
// /dev/uhid, so that every HID program on the machine (hidraw, hidapi, Wine) sees them as
// attached USB devices. The emulator's device model answers the reports; this program only
// carries them between the kernel and the model.
//
//   tovrak-uhid [--control FILE] [--dump-dir DIR] [--trace] SCENARIO.json
//
// --control FILE  a FIFO (created when missing) that takes one command per line:
//                 "unplug KEY", "plug KEY", "mute KEY" (report requests are left unanswered),
//                 "unmute KEY" (KEY: serial number or emulator path), "quit".
// --dump-dir DIR  on exit, the flash of every Tovrak device is written to DIR/<serial>.flash.
// --trace         one line on standard error for every request of the kernel.
// SIGINT and SIGTERM end the program like "quit".

#include "UhidDescriptors.h"

#include "emulator/EmulatorBackend.h"
#include "emulator/EmulatorScenario.h"

#include <linux/uhid.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

// One device of the scenario and, while it is attached, its kernel device.
struct ServedDevice
{
    std::shared_ptr<EmulatedDevice> model;
    std::string path;   // the emulator's path
    std::string serial; // empty for foreign devices
    std::string name;
    bool tovrak = true;
    bool muted = false; // takes report requests and never answers them (the kernel times them out)
    int fd = -1; // /dev/uhid, open while the kernel device exists
    std::unique_ptr<HidHandle> handle;
};

struct Options
{
    std::string scenario;
    std::string control;
    std::string dumpDir;
    bool trace = false;
};

bool writeEvent(int fd, const uhid_event& event)
{
    const ssize_t n = write(fd, &event, sizeof event);
    return n == static_cast<ssize_t>(sizeof event);
}

class Bridge
{
public:
    Bridge(EmulatorBackend& backend, const Options& options) : m_backend(backend), m_options(options)
    {
        for (const auto& model : backend.devices())
        {
            ServedDevice d;
            d.model = model;
            d.path = model->path();
            const EmulatedDeviceConfig config = model->config();
            d.tovrak = config.speaksProtocol;
            if (d.tovrak)
            {
                d.serial = config.deviceInfo.serialNumber();
                d.name = config.deviceInfo.deviceName();
            }
            else
            {
                d.name = "HID keyboard";
            }
            m_devices.push_back(std::move(d));
        }
    }

    ~Bridge()
    {
        for (ServedDevice& d : m_devices)
            destroy(d);
    }

    // Creates and destroys kernel devices so that they match what the model says is attached.
    bool syncPresence()
    {
        std::vector<std::string> attached;
        m_backend.enumerate(attached);
        bool ok = true;
        for (ServedDevice& d : m_devices)
        {
            const bool present = std::find(attached.begin(), attached.end(), d.path) != attached.end();
            if (present && d.fd < 0)
                ok = create(d) && ok;
            else if (!present && d.fd >= 0)
                destroy(d);
        }
        return ok;
    }

    void fillPollSet(std::vector<pollfd>& fds, std::vector<ServedDevice*>& owners)
    {
        for (ServedDevice& d : m_devices)
        {
            if (d.fd < 0)
                continue;
            fds.push_back(pollfd { d.fd, POLLIN, 0 });
            owners.push_back(&d);
        }
    }

    void serve(ServedDevice& d)
    {
        uhid_event event {};
        const ssize_t n = read(d.fd, &event, sizeof event);
        if (n <= 0)
        {
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                std::cerr << "tovrak-uhid: " << label(d) << ": read from /dev/uhid failed: " << std::strerror(errno) << "\n";
            return;
        }
        switch (event.type)
        {
        case UHID_START:
            trace(d, "start, flags " + std::to_string(event.u.start.dev_flags));
            std::cout << "attached " << label(d) << std::endl;
            break;
        case UHID_STOP:
            trace(d, "stop");
            break;
        case UHID_OPEN:
            trace(d, "open");
            break;
        case UHID_CLOSE:
            trace(d, "close");
            break;
        case UHID_OUTPUT:
            output(d, event.u.output.data, event.u.output.size, event.u.output.rtype);
            break;
        case UHID_GET_REPORT:
            getReport(d, event.u.get_report.id, event.u.get_report.rnum, event.u.get_report.rtype);
            break;
        case UHID_SET_REPORT:
            setReport(d, event.u.set_report);
            break;
        default:
            trace(d, "event " + std::to_string(event.type) + " ignored");
            break;
        }
    }

    // KEY is a serial number or an emulator path.
    bool command(const std::string& line, bool& quit)
    {
        std::istringstream in(line);
        std::string verb, key;
        in >> verb >> key;
        if (verb.empty())
            return true;
        if (verb == "quit")
        {
            quit = true;
            return true;
        }
        ServedDevice* target = nullptr;
        for (ServedDevice& d : m_devices)
            if (!key.empty() && (d.serial == key || d.path == key))
                target = &d;
        const bool knownVerb = verb == "unplug" || verb == "plug" || verb == "replug" || verb == "mute" || verb == "unmute";
        if (!knownVerb || target == nullptr)
        {
            std::cerr << "tovrak-uhid: unknown command or device: " << line << "\n";
            return false;
        }
        if (verb == "mute" || verb == "unmute")
        {
            target->muted = verb == "mute";
            std::cout << verb << "d " << label(*target) << std::endl;
            return true;
        }
        if (verb == "unplug")
        {
            m_backend.unplug(target->path);
            std::cout << "unplugged " << label(*target) << std::endl;
        }
        else
        {
            m_backend.replug(target->model);
        }
        return syncPresence();
    }

    // Writes the flash of every Tovrak device to DIR/<serial>.flash.
    bool dumpFlash(const std::string& dir) const
    {
        bool ok = true;
        for (const ServedDevice& d : m_devices)
        {
            if (!d.tovrak)
                continue;
            const uint32_t size = d.model->config().flashSize;
            const std::vector<uint8_t> bytes = d.model->readFlash(0, size);
            std::string file = d.serial.empty() ? d.path : d.serial;
            for (char& c : file)
                if (c == '/' || c == '\\')
                    c = '_';
            const std::string target = dir + "/" + file + ".flash";
            std::ofstream out(target, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out)
            {
                std::cerr << "tovrak-uhid: cannot write " << target << "\n";
                ok = false;
            }
        }
        return ok;
    }

    // What a host did that the device model counts as a protocol violation.
    size_t reportViolations() const
    {
        size_t total = 0;
        for (const ServedDevice& d : m_devices)
        {
            for (const ProtocolViolation& v : d.model->violations())
            {
                std::cerr << "tovrak-uhid: " << label(d) << ": protocol violation " << static_cast<int>(v.kind)
                          << " at 0x" << std::hex << v.address << std::dec << " length " << v.length << "\n";
                ++total;
            }
        }
        return total;
    }

private:
    std::string label(const ServedDevice& d) const { return d.serial.empty() ? d.path : d.serial; }

    void trace(const ServedDevice& d, const std::string& text) const
    {
        if (m_options.trace)
            std::cerr << "tovrak-uhid: " << label(d) << ": " << text << "\n";
    }

    bool create(ServedDevice& d)
    {
        d.handle = m_backend.open(d.path);
        if (d.handle == nullptr)
        {
            // The model refuses to be opened (an emulated fault): nothing to serve.
            std::cerr << "tovrak-uhid: " << label(d) << ": cannot open the model: " << m_backend.lastOpenError() << "\n";
            return true;
        }
        uint16_t vendorId = 0, productId = 0;
        if (!d.handle->getAttributes(vendorId, productId))
        {
            std::cerr << "tovrak-uhid: " << label(d) << ": the model has no vendor and product id\n";
            d.handle.reset();
            return true;
        }
        d.fd = open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (d.fd < 0)
        {
            std::cerr << "tovrak-uhid: cannot open /dev/uhid: " << std::strerror(errno) << "\n";
            d.handle.reset();
            return false;
        }
        uhid_event event {};
        event.type = UHID_CREATE2;
        auto& req = event.u.create2;
        std::snprintf(reinterpret_cast<char*>(req.name), sizeof req.name, "%s", d.name.c_str());
        std::snprintf(reinterpret_cast<char*>(req.phys), sizeof req.phys, "tovrak-uhid/%s", d.path.c_str());
        // The USB serial number string; a model that refuses it gets none.
        if (d.handle->canReadSerialNumberString())
            std::snprintf(reinterpret_cast<char*>(req.uniq), sizeof req.uniq, "%s", d.serial.c_str());
        // hidapi lists only USB, Bluetooth, I2C and SPI devices; USB is what the devices are.
        req.bus = BUS_USB;
        req.vendor = vendorId;
        req.product = productId;
        req.version = 0;
        req.country = 0;
        std::vector<uint8_t> descriptor = d.tovrak ? vendorReportDescriptor(tovrakReports()) : keyboardReportDescriptor();
        if (!d.handle->hasParsableReportDescriptor())
            descriptor = { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01 }; // an unclosed collection
        req.rd_size = static_cast<uint16_t>(descriptor.size());
        std::memcpy(req.rd_data, descriptor.data(), descriptor.size());
        if (!writeEvent(d.fd, event))
        {
            std::cerr << "tovrak-uhid: " << label(d) << ": UHID_CREATE2 refused: " << std::strerror(errno) << "\n";
            close(d.fd);
            d.fd = -1;
            d.handle.reset();
            return descriptor.size() < 10; // a refused broken descriptor is what it should be
        }
        trace(d, "created");
        return true;
    }

    void destroy(ServedDevice& d)
    {
        if (d.fd < 0)
            return;
        uhid_event event {};
        event.type = UHID_DESTROY;
        writeEvent(d.fd, event);
        close(d.fd);
        d.fd = -1;
        d.handle.reset();
        std::cout << "detached " << label(d) << std::endl;
    }

    void output(ServedDevice& d, const uint8_t* data, size_t size, uint8_t rtype)
    {
        trace(d, "output rtype " + std::to_string(rtype) + " id " + std::to_string(size > 0 ? data[0] : -1) + " size "
                     + std::to_string(size));
        if (!d.tovrak || size == 0)
            return; // a keyboard takes its LED report and shows nothing
        // An interrupt OUT transfer has no answer: a refused report is only noted.
        if (!d.handle->sendOutputReport(data, size))
            std::cerr << "tovrak-uhid: " << label(d) << ": output report 0x" << std::hex << int(data[0]) << std::dec
                      << " of " << size << " bytes refused: " << d.handle->lastError() << "\n";
    }

    void getReport(ServedDevice& d, uint32_t id, uint8_t rnum, uint8_t rtype)
    {
        uhid_event reply {};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = id;
        reply.u.get_report_reply.err = EIO;
        const size_t length = rtype == UHID_INPUT_REPORT && d.tovrak
                                  ? declaredReportLength(tovrakReports(), rnum, UhidReportType::Input)
                                  : 0;
        if (d.muted)
        {
            trace(d, "get report id " + std::to_string(rnum) + " left unanswered");
            return;
        }
        trace(d, "get report rtype " + std::to_string(rtype) + " id " + std::to_string(rnum) + " -> "
                     + std::to_string(length) + " bytes");
        if (length > 0)
        {
            uint8_t* data = reply.u.get_report_reply.data;
            data[0] = rnum;
            if (d.handle->getInputReport(data, length))
            {
                // Numbered reports: the answer starts with the report id, as on the wire.
                reply.u.get_report_reply.err = 0;
                reply.u.get_report_reply.size = static_cast<uint16_t>(length);
            }
            else
            {
                std::memset(data, 0, length);
                trace(d, "input report refused: " + d.handle->lastError());
            }
        }
        if (!writeEvent(d.fd, reply))
            std::cerr << "tovrak-uhid: " << label(d) << ": UHID_GET_REPORT_REPLY failed: " << std::strerror(errno) << "\n";
    }

    void setReport(ServedDevice& d, const uhid_set_report_req& req)
    {
        if (d.muted)
        {
            trace(d, "set report id " + std::to_string(req.rnum) + " left unanswered");
            return;
        }
        trace(d, "set report rtype " + std::to_string(req.rtype) + " id " + std::to_string(req.rnum) + " size "
                     + std::to_string(req.size));
        uhid_event reply {};
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = req.id;
        reply.u.set_report_reply.err = EIO;
        const size_t size = std::min<size_t>(req.size, sizeof req.data);
        if (d.tovrak && req.rtype == UHID_OUTPUT_REPORT && size > 0)
        {
            if (d.handle->sendOutputReport(req.data, size))
                reply.u.set_report_reply.err = 0;
            else
                trace(d, "output report refused: " + d.handle->lastError());
        }
        if (!writeEvent(d.fd, reply))
            std::cerr << "tovrak-uhid: " << label(d) << ": UHID_SET_REPORT_REPLY failed: " << std::strerror(errno) << "\n";
    }

    EmulatorBackend& m_backend;
    const Options& m_options;
    std::vector<ServedDevice> m_devices;
};

int usage()
{
    std::cerr << "usage: tovrak-uhid [--control FILE] [--dump-dir DIR] [--trace] SCENARIO.json\n";
    return 2;
}

// Reads whole lines from the control FIFO; keeps a partial line for the next call.
class ControlChannel
{
public:
    bool open(const std::string& path)
    {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 && mkfifo(path.c_str(), 0600) != 0)
        {
            std::cerr << "tovrak-uhid: cannot create " << path << ": " << std::strerror(errno) << "\n";
            return false;
        }
        // Read and write, so that the FIFO never reports end of file between writers.
        m_fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            std::cerr << "tovrak-uhid: cannot open " << path << ": " << std::strerror(errno) << "\n";
        return m_fd >= 0;
    }
    ~ControlChannel()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    int fd() const { return m_fd; }

    std::vector<std::string> lines()
    {
        char chunk[512];
        ssize_t n;
        while ((n = read(m_fd, chunk, sizeof chunk)) > 0)
            m_pending.append(chunk, static_cast<size_t>(n));
        std::vector<std::string> result;
        size_t end;
        while ((end = m_pending.find('\n')) != std::string::npos)
        {
            result.push_back(m_pending.substr(0, end));
            m_pending.erase(0, end + 1);
        }
        if (m_pending.size() > 4096)
            m_pending.clear();
        return result;
    }

private:
    int m_fd = -1;
    std::string m_pending;
};
} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--control" && i + 1 < argc)
            options.control = argv[++i];
        else if (arg == "--dump-dir" && i + 1 < argc)
            options.dumpDir = argv[++i];
        else if (arg == "--trace")
            options.trace = true;
        else if (!arg.empty() && arg[0] != '-' && options.scenario.empty())
            options.scenario = arg;
        else
            return usage();
    }
    if (options.scenario.empty())
        return usage();

    EmulatorBackend backend;
    std::string error;
    if (!loadEmulatorScenario(juce::File::getCurrentWorkingDirectory().getChildFile(options.scenario), backend, error))
    {
        std::cerr << "tovrak-uhid: " << options.scenario << ": " << error << "\n";
        return 2;
    }

    ControlChannel control;
    if (!options.control.empty() && !control.open(options.control))
        return 2;

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int rc = 0;
    {
        Bridge bridge(backend, options);
        if (!bridge.syncPresence())
            return 1;
        bool quit = false;
        while (!quit && !g_stop)
        {
            std::vector<pollfd> fds;
            std::vector<ServedDevice*> owners;
            bridge.fillPollSet(fds, owners);
            if (control.fd() >= 0)
                fds.push_back(pollfd { control.fd(), POLLIN, 0 });
            // A short timeout so that hot-plug times of the scenario are kept.
            const int ready = poll(fds.data(), fds.size(), 20);
            if (ready < 0 && errno != EINTR)
            {
                std::cerr << "tovrak-uhid: poll failed: " << std::strerror(errno) << "\n";
                rc = 1;
                break;
            }
            for (size_t i = 0; ready > 0 && i < owners.size(); ++i)
                if (fds[i].revents & POLLIN)
                    bridge.serve(*owners[i]);
            if (control.fd() >= 0 && (fds.back().revents & POLLIN))
                for (const std::string& line : control.lines())
                    if (!bridge.command(line, quit))
                        rc = 1;
            bridge.syncPresence();
        }
        if (!options.dumpDir.empty() && !bridge.dumpFlash(options.dumpDir))
            rc = 1;
        if (bridge.reportViolations() > 0)
            rc = rc == 0 ? 3 : rc;
    }
    return rc;
}
