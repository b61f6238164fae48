// The least a wake-up costs on this machine: a thread woken once per 20 ms by a futex (as OutTh
// is by the record event), and a thread woken once per 20 ms by a datagram that it then reads
// (as InTh is), with nothing else done. The CPU time of each woken thread per wake-up is the
// floor under the media bridge's cost per frame: the bridge wakes OutTh once and InTh twice per
// frame (the datagram, and the jitter buffer's release time).
// Usage: wake_floor [wake-ups]   (default 250, five seconds)
#include <arpa/inet.h>
#include <linux/futex.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

// Written by the main thread, read by the woken thread; the futex word itself.
std::atomic<uint32_t> generation{0};
std::atomic<bool> stopping{false};

double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void futex_wait(uint32_t seen) {
    syscall(SYS_futex, &generation, FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
}

void futex_wake() {
    syscall(SYS_futex, &generation, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

int main(int argc, char **argv) {
    const int wakes = argc > 1 ? std::atoi(argv[1]) : 250;
    int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof to;
    ::bind(receiver, reinterpret_cast<sockaddr *>(&to), sizeof to);
    ::getsockname(receiver, reinterpret_cast<sockaddr *>(&to), &length);
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    ::connect(sender, reinterpret_cast<sockaddr *>(&to), sizeof to);

    double futex_cpu = 0;
    long futex_wakes = 0;
    std::thread futex_thread([&] {
        const double start = thread_seconds();
        uint32_t seen = generation.load();
        // Woken for nothing (a spurious return): the generation is unchanged, wait again.
        while (!stopping.load()) {
            futex_wait(seen);
            const uint32_t now = generation.load();
            if (now != seen) {
                ++futex_wakes;
                seen = now;
            }
        }
        futex_cpu = thread_seconds() - start;
    });
    double poll_cpu = 0;
    long datagrams = 0;
    std::thread poll_thread([&] {
        const double start = thread_seconds();
        char buffer[1500];
        while (!stopping.load()) {
            pollfd ready{receiver, POLLIN, 0};
            if (::poll(&ready, 1, 100) > 0 && ::recv(receiver, buffer, sizeof buffer, 0) > 0) {
                ++datagrams;
            }
        }
        poll_cpu = thread_seconds() - start;
    });
    const char packet[45] = {};
    for (int i = 0; i < wakes; ++i) {
        timespec frame{0, 20000000};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &frame, nullptr);
        generation.fetch_add(1);
        futex_wake();
        ::send(sender, packet, sizeof packet, 0);
    }
    stopping = true;
    generation.fetch_add(1);
    futex_wake();
    futex_thread.join();
    poll_thread.join();
    std::printf("futex wake-up, once per 20 ms:       %6.1f us CPU each (%ld)\n",
                futex_wakes > 0 ? 1e6 * futex_cpu / static_cast<double>(futex_wakes) : 0.0,
                futex_wakes);
    std::printf("datagram wake-up + recv, per 20 ms:  %6.1f us CPU each (%ld)\n",
                datagrams > 0 ? 1e6 * poll_cpu / static_cast<double>(datagrams) : 0.0, datagrams);
    if (futex_wakes > 0 && datagrams > 0) {
        const double futex_us = 1e6 * futex_cpu / static_cast<double>(futex_wakes);
        const double datagram_us = 1e6 * poll_cpu / static_cast<double>(datagrams);
        // OutTh: one futex wake-up; InTh: a datagram one and a timer one (counted as a futex's).
        std::printf("floor per 20 ms frame of a call: %.1f us, %.3f %% of a core\n",
                    2 * futex_us + datagram_us, (2 * futex_us + datagram_us) / 200);
    }
    ::close(sender);
    ::close(receiver);
    return 0;
}
