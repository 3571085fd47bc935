#include "printer_sim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

constexpr char kDefaultControl[] = "127.0.0.1:19101";
constexpr int kReplyTimeoutMs = 150000;

std::atomic<int> g_serial{0};

class WinsockUser {
  public:
    WinsockUser() { ok_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~WinsockUser() {
        if (ok_)
            WSACleanup();
    }

  private:
    WSADATA data_;
    bool ok_;
};

bool ParseControlAddress(sockaddr_in* out) {
    const char* text = getenv("ORV_SIM_CONTROL");
    std::string control = text != nullptr && *text != '\0' ? text : kDefaultControl;
    size_t colon = control.rfind(':');
    if (colon == std::string::npos)
        return false;
    *out = {};
    out->sin_family = AF_INET;
    out->sin_addr.s_addr = inet_addr(control.substr(0, colon).c_str());
    out->sin_port = htons(static_cast<u_short>(atoi(control.c_str() + colon + 1)));
    return out->sin_addr.s_addr != INADDR_NONE;
}

}  // namespace

long long SimStats::Num(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? -1 : atoll(it->second.c_str());
}

std::string SimStats::Str(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

static SimStats ParseStats(const std::string& reply) {
    SimStats stats;
    std::istringstream words(reply);
    std::string word;
    while (words >> word) {
        size_t eq = word.find('=');
        if (eq != std::string::npos)
            stats.values[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return stats;
}

static WinsockUser& Winsock() {
    static WinsockUser user;
    return user;
}

SimPrinter::SimPrinter(const std::string& address, const std::string& options) : address_(address) {
    Winsock();
    sockaddr_in control;
    if (!ParseControlAddress(&control)) {
        error_ = "bad ORV_SIM_CONTROL";
        return;
    }
    control_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = kReplyTimeoutMs;
    setsockopt(control_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    if (connect(control_, reinterpret_cast<sockaddr*>(&control), sizeof control) != 0) {
        error_ = "cannot reach the printer simulator's control server (scripts/sim-env.sh start)";
        return;
    }
    char id[96];
    snprintf(id, sizeof id, "p%lu-%d", GetCurrentProcessId(), g_serial++);
    id_ = id;
    std::string reply;
    ok_ = Command("create " + id_ + " " + address + " " + options, &reply);
    if (!ok_)
        error_ = reply;
}

SimPrinter::~SimPrinter() {
    if (ok_) {
        std::string reply;
        Command("destroy " + id_, &reply);
    }
    if (control_ != INVALID_SOCKET)
        closesocket(control_);
}

bool SimPrinter::Command(const std::string& line, std::string* reply) {
    std::string out = line + "\n";
    if (send(control_, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size())) {
        *reply = "control send failed";
        return false;
    }
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            *reply = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!reply->empty() && reply->back() == '\r')
                reply->pop_back();
            return reply->compare(0, 2, "ok") == 0;
        }
        char chunk[1024];
        int got = recv(control_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            *reply = "control connection lost";
            return false;
        }
        pending_.append(chunk, got);
    }
}

bool SimPrinter::Set(const std::string& options) {
    std::string reply;
    return Command("set " + id_ + " " + options, &reply);
}

SimStats SimPrinter::Stats() {
    std::string reply;
    Command("stats " + id_, &reply);
    return ParseStats(reply);
}

bool SimPrinter::WaitFor(const std::string& key, long long value, int timeout_ms, SimStats* stats) {
    std::string reply;
    bool ok = Command("wait " + id_ + " " + key + ">=" + std::to_string(value) + " " +
                          std::to_string(timeout_ms),
                      &reply);
    if (stats != nullptr)
        *stats = ParseStats(reply);
    return ok;
}

bool SimPrinter::ResetStats() {
    std::string reply;
    return Command("reset-stats " + id_, &reply);
}

std::string TestAddress(int salt) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info == nullptr ? "none" : std::string(info->test_suite_name()) + "." + info->name();
    unsigned hash = 2166136261u;
    for (char c : name + "#" + std::to_string(salt))
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    unsigned second = 64 + (hash >> 24) % 64;
    unsigned third = (hash >> 8) & 0xFF;
    unsigned fourth = 1 + (hash & 0xFF) % 254;
    char text[32];
    snprintf(text, sizeof text, "127.%u.%u.%u", second, third, fourth);
    return text;
}

std::string Fnv1a64(const void* data, size_t size) {
    unsigned long long hash = 0xcbf29ce484222325ull;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    char text[17];
    snprintf(text, sizeof text, "%016llx", hash);
    return text;
}
