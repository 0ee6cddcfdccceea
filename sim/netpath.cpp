// netpath: a path across the internet between two network namespaces of its
// own, for tests on a machine without netem. Each namespace has a TUN device
// whose packets this program passes to the other's, late, out of order,
// lost, cut off or without UDP as it is told. Run as root:
//
//   netpath [--delay MS] [--jitter MS] [--loss PERCENT] [--udp on|off] [--seed N]
//
// It prints "ready NEAR_NS FAR_NS NEAR_ADDRESS FAR_ADDRESS" once the link is
// up, then takes the same settings one a line on standard input ("delay 80",
// "outage 2000": nothing passes for that long), answering "ok" to each. It
// removes both namespaces when its input ends, on SIGTERM or SIGINT, and when
// its parent dies.

#include <dirent.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <queue>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

// A router's buffer: past it, packets are dropped rather than kept.
constexpr std::size_t MostQueued = 4096;
constexpr std::size_t LargestPacket = 65536;
constexpr int UdpProtocol = 17;
const std::string NamespaceDirectory = "/var/run/netns/";

volatile std::sig_atomic_t stopping = 0;

struct Conditions
{
    double delayMs = 0;
    double jitterMs = 0;
    double lossPercent = 0;
    Clock::time_point outageEnds;
    bool udp = true;
};

bool isUdp(const std::vector<unsigned char> &packet)
{
    if (packet.empty())
        return false;
    switch (packet[0] >> 4) {
    case 4:
        return packet.size() > 9 && packet[9] == UdpProtocol;
    case 6:
        return packet.size() > 6 && packet[6] == UdpProtocol;
    }
    return false;
}

// One way of the path: what one TUN device sends, held until it is due at
// the other.
class Direction
{
public:
    Direction(int from, int to)
        : m_from(from)
        , m_to(to)
    { }

    // False when the device is gone.
    bool takeArrivals(const Conditions &conditions, std::mt19937_64 &random);
    void releaseDue(const Conditions &conditions);
    std::optional<Clock::time_point> nextRelease() const;

private:
    struct Packet
    {
        Clock::time_point release;
        std::uint64_t order;
        std::vector<unsigned char> bytes;
        // The earliest on top; packets due together keep their order.
        bool operator<(const Packet &other) const
        {
            return std::tie(release, order) > std::tie(other.release, other.order);
        }
    };

    bool passes(const std::vector<unsigned char> &packet, const Conditions &conditions,
                std::mt19937_64 &random) const;

    int m_from;
    int m_to;
    std::priority_queue<Packet> m_queue;
    std::uint64_t m_arrivals = 0;
};

bool Direction::passes(const std::vector<unsigned char> &packet, const Conditions &conditions,
                       std::mt19937_64 &random) const
{
    if (Clock::now() < conditions.outageEnds || (!conditions.udp && isUdp(packet))
        || m_queue.size() >= MostQueued)
        return false;
    return std::uniform_real_distribution<double>(0, 100)(random) >= conditions.lossPercent;
}

bool Direction::takeArrivals(const Conditions &conditions, std::mt19937_64 &random)
{
    std::vector<unsigned char> packet(LargestPacket);
    for (;;) {
        const ssize_t size = ::read(m_from, packet.data(), packet.size());
        if (size < 0)
            return errno == EAGAIN || errno == EINTR;
        const auto arrival = Clock::now();
        std::vector<unsigned char> bytes(packet.begin(), packet.begin() + size);
        if (!passes(bytes, conditions, random))
            continue;
        const double jitter
            = std::uniform_real_distribution<double>(-conditions.jitterMs, conditions.jitterMs)(random);
        const auto late = std::chrono::duration_cast<Clock::duration>(
            Milliseconds(std::max(0.0, conditions.delayMs + jitter)));
        m_queue.push({arrival + late, m_arrivals++, std::move(bytes)});
    }
}

void Direction::releaseDue(const Conditions &conditions)
{
    const auto now = Clock::now();
    while (!m_queue.empty() && m_queue.top().release <= now) {
        // What was on its way when the path went down is lost with it.
        if (now >= conditions.outageEnds) {
            const std::vector<unsigned char> &bytes = m_queue.top().bytes;
            // A full device queue drops the packet, as a real link would.
            std::ignore = ::write(m_to, bytes.data(), bytes.size());
        }
        m_queue.pop();
    }
}

std::optional<Clock::time_point> Direction::nextRelease() const
{
    if (m_queue.empty())
        return std::nullopt;
    return m_queue.top().release;
}

// Applies one setting, "delay 80" or "udp off"; false when it makes no sense.
bool applySetting(const std::string &setting, Conditions &conditions)
{
    std::istringstream words(setting);
    std::string name;
    words >> name;
    if (name == "udp") {
        std::string state;
        words >> state;
        if (state != "on" && state != "off")
            return false;
        conditions.udp = state == "on";
        return true;
    }
    double value = 0;
    if (!(words >> value) || value < 0)
        return false;
    if (name == "delay")
        conditions.delayMs = value;
    else if (name == "jitter")
        conditions.jitterMs = value;
    else if (name == "loss" && value <= 100)
        conditions.lossPercent = value;
    else if (name == "outage")
        conditions.outageEnds
            = Clock::now() + std::chrono::duration_cast<Clock::duration>(Milliseconds(value));
    else
        return false;
    return true;
}

// Runs ip with the arguments, its output on standard error so that ours
// stays the caller's; true when it succeeded.
bool ip(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "ip");
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    // The stop signals are held back here, not in ip.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    const bool started = posix_spawnp(&child, "ip", &actions, &attributes, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    int status = 0;
    return started && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One end of the path: a namespace and the TUN device in it.
struct End
{
    std::string space;
    std::string device;
    std::string address;
    std::string peer;
    int tun = -1;
};

bool makeEnd(End &end)
{
    end.tun = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, end.device.c_str(), IFNAMSIZ - 1);
    if (end.tun < 0 || ::ioctl(end.tun, TUNSETIFF, &request) < 0) {
        std::perror("netpath: /dev/net/tun");
        return false;
    }
    return ip({"netns", "add", end.space}) && ip({"link", "set", end.device, "netns", end.space})
        && ip({"-n", end.space, "link", "set", "lo", "up"})
        && ip({"-n", end.space, "address", "add", end.address + "/32", "peer", end.peer + "/32", "dev",
               end.device})
        && ip({"-n", end.space, "link", "set", end.device, "mtu", "1500", "up"});
}

void removeEnd(End &end)
{
    if (end.tun >= 0)
        ::close(end.tun);
    end.tun = -1;
    if (::access((NamespaceDirectory + end.space).c_str(), F_OK) == 0)
        ip({"netns", "delete", end.space});
}

// Namespaces left by a netpath that was killed outright: those of a process
// that is gone, or of a past one with this one's number.
void removeLeftovers()
{
    DIR *directory = ::opendir(NamespaceDirectory.c_str());
    if (!directory)
        return;
    std::vector<std::string> leftovers;
    while (const dirent *entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        const auto dash = name.find('-');
        if (dash == std::string::npos
            || (name.substr(0, dash) != "q9near" && name.substr(0, dash) != "q9far"))
            continue;
        const pid_t owner = pid_t(std::atol(name.c_str() + dash + 1));
        if (owner == ::getpid() || (::kill(owner, 0) < 0 && errno == ESRCH))
            leftovers.push_back(name);
    }
    ::closedir(directory);
    for (const std::string &name : leftovers)
        ip({"netns", "delete", name});
}

void stop(int)
{
    stopping = 1;
}

// Blocks the stop signals except while waiting, so that none is missed
// between a check and the wait; returns the mask to wait with.
sigset_t catchStopSignals()
{
    struct sigaction action
    { };
    action.sa_handler = stop;
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stopSignals, number);
        ::sigaction(number, &action, nullptr);
    }
    sigset_t waiting;
    ::sigprocmask(SIG_BLOCK, &stopSignals, &waiting);
    std::signal(SIGPIPE, SIG_IGN);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1)
        stopping = 1;
    return waiting;
}

// Takes the complete lines of standard input as settings and answers each;
// false once the input has ended.
bool takeSettings(std::string &pending, Conditions &conditions)
{
    char chunk[4096];
    const ssize_t size = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (size <= 0)
        return size < 0 && errno == EINTR;
    pending.append(chunk, size_t(size));
    for (auto newline = pending.find('\n'); newline != std::string::npos; newline = pending.find('\n')) {
        const std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        if (applySetting(line, conditions))
            std::printf("ok\n");
        else
            std::printf("error: cannot apply \"%s\"\n", line.c_str());
        std::fflush(stdout);
    }
    return true;
}

timespec until(std::optional<Clock::time_point> when)
{
    const auto left = std::max(Clock::duration::zero(), *when - Clock::now());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    return {time_t(seconds.count()), long(std::chrono::nanoseconds(left - seconds).count())};
}

void forward(End &near, End &far, Conditions &conditions, std::mt19937_64 &random, const sigset_t &waiting)
{
    Direction out(near.tun, far.tun);
    Direction back(far.tun, near.tun);
    std::string pending;
    while (!stopping) {
        auto next = out.nextRelease();
        if (const auto other = back.nextRelease(); other && (!next || *other < *next))
            next = other;
        const timespec timeout = next ? until(next) : timespec{};
        pollfd watched[] = {{STDIN_FILENO, POLLIN, 0}, {near.tun, POLLIN, 0}, {far.tun, POLLIN, 0}};
        const int ready = ::ppoll(watched, 3, next ? &timeout : nullptr, &waiting);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0) {
            if (watched[0].revents && !takeSettings(pending, conditions))
                return;
            if ((watched[1].revents & POLLIN) && !out.takeArrivals(conditions, random))
                return;
            if ((watched[2].revents & POLLIN) && !back.takeArrivals(conditions, random))
                return;
            if ((watched[1].revents | watched[2].revents) & (POLLERR | POLLHUP | POLLNVAL))
                return;
        }
        out.releaseDue(conditions);
        back.releaseDue(conditions);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const sigset_t waiting = catchStopSignals();
    if (argc % 2 == 0) {
        std::fprintf(stderr,
                     "usage: netpath [--delay MS] [--jitter MS] [--loss PERCENT] [--udp on|off] "
                     "[--seed N]\n");
        return 2;
    }
    Conditions conditions;
    std::optional<std::uint64_t> seed;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seed")
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!option.starts_with("--")
                 || !applySetting(option.substr(2) + ' ' + argv[i + 1], conditions)) {
            std::fprintf(stderr, "netpath: cannot apply %s %s\n", argv[i], argv[i + 1]);
            return 2;
        }
    }
    std::mt19937_64 random(seed.value_or(std::uint64_t(Clock::now().time_since_epoch().count())));

    removeLeftovers();
    const int pid = int(::getpid());
    const std::string subnet = "10." + std::to_string((pid >> 8) & 0xff) + '.' + std::to_string(pid & 0xff);
    End near{"q9near-" + std::to_string(pid), "q9n" + std::to_string(pid), subnet + ".1", subnet + ".2"};
    End far{"q9far-" + std::to_string(pid), "q9f" + std::to_string(pid), subnet + ".2", subnet + ".1"};
    const bool opened = !stopping && makeEnd(near) && makeEnd(far);
    if (opened) {
        std::printf("ready %s %s %s %s\n", near.space.c_str(), far.space.c_str(), near.address.c_str(),
                    far.address.c_str());
        std::fflush(stdout);
        forward(near, far, conditions, random, waiting);
    }
    removeEnd(near);
    removeEnd(far);
    return opened ? 0 : 1;
}
