#include "sim/control/traffic_stream.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "sim/control/traffic.h"
#include "sim/sim_server.h"

namespace {
// Sends what the socket takes now; false when the client is gone.
bool Flush(int fd, std::string& pending) {
  while (!pending.empty()) {
    const ssize_t n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    pending.erase(0, size_t(n));
  }
  return true;
}
}  // namespace

SimTrafficStreams::~SimTrafficStreams() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  if (thread_.joinable()) {
    wake();
    thread_.join();
  }
  for (const auto& c : incoming_) ::close(c.fd);
  for (int fd : {wakeRead_, wakeWrite_})
    if (fd >= 0) ::close(fd);
}

bool SimTrafficStreams::IsRequest(const std::string& line) {
  if (line.find("traffic") == std::string::npos) return false;  // the common case, without parsing
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
  return doc.isObject() && doc.object().value("cmd").toString() == QLatin1String("traffic");
}

bool SimTrafficStreams::adopt(int fd, const std::string& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_ || count_ >= MaxClients) return false;
  if (!thread_.joinable()) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    thread_ = std::thread([this] { run(); });
  }
  incoming_.push_back({fd, server_->requestCount(), reply + "\n"});
  ++count_;
  wake();
  return true;
}

void SimTrafficStreams::wake() {
  const char byte = 1;
  [[maybe_unused]] auto n = ::write(wakeWrite_, &byte, 1);
}

void SimTrafficStreams::run() {
  std::vector<Client> clients;
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign(1, {wakeRead_, POLLIN, 0});
    for (const auto& c : clients) fds.push_back({c.fd, short(POLLIN | (c.pending.empty() ? 0 : POLLOUT)), 0});
    if (::poll(fds.data(), fds.size(), clients.empty() ? -1 : PullIntervalMs) < 0 && errno != EINTR) break;
    if (fds[0].revents) {
      char drain[64];
      while (::read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
      for (auto& c : incoming_) clients.push_back(std::move(c));
      incoming_.clear();
    }
    if (clients.empty()) continue;

    uint64_t from = clients.front().after;
    for (const auto& c : clients) from = std::min(from, c.after);
    const auto entries = server_->logSince(from);
    const int offset = int(QDateTime::currentDateTime().offsetFromUtc());
    std::vector<std::string> lines;
    lines.reserve(entries.size());
    for (const auto& e : entries) lines.push_back(SimTrafficJson(e, offset) + "\n");

    std::vector<int> gone;
    for (size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      // What a streaming client sends is read and ignored; its hanging up ends its stream.
      const short revents = i + 1 < fds.size() && fds[i + 1].fd == c.fd ? fds[i + 1].revents : 0;
      char probe[64];
      if ((revents & (POLLIN | POLLHUP | POLLERR)) && ::recv(c.fd, probe, sizeof probe, MSG_DONTWAIT) <= 0) {
        gone.push_back(c.fd);
        continue;
      }
      for (size_t k = 0; k < entries.size(); ++k) {
        if (entries[k].serial <= c.after) continue;
        if (c.pending.size() + lines[k].size() <= MaxPending) c.pending += lines[k];
        c.after = entries[k].serial;
      }
      if (!Flush(c.fd, c.pending)) gone.push_back(c.fd);
    }
    for (int fd : gone) {
      ::close(fd);
      std::erase_if(clients, [&](const Client& c) { return c.fd == fd; });
      std::lock_guard<std::mutex> lock(mutex_);
      --count_;
    }
  }
  for (const auto& c : clients) ::close(c.fd);
}
