#include "feeds/KISSServer.h"

#include <utility>

#include "feeds/KISSFormat.h"

KISSServer::KISSServer(KISSServerConfig config)
    : server({.bindAddress = std::move(config.bindAddress),
              .port = config.port,
              .threadName = "feed.kiss",
              .maxQueuedBytes = config.maxQueuedBytes,
              .onClientsChanged = std::move(config.onClientsChanged)}) {}

void KISSServer::sendFrame(std::span<const std::uint8_t> frame) {
    if (frame.empty()) return;
    const std::string bytes = kissDataFrame(frame);
    server.broadcast(bytes);
    frames.fetch_add(1, std::memory_order_relaxed);
}
