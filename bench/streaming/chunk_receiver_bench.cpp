// Chunk receiver throughput over loopback, next to a plain recv loop on the same kind of
// connection: 200 KB chunks (the size of a large combined frame), sent as fast as the sender can.
// Each iteration is timed from the start of reading to the last data (the last chunk handed
// over, the last bytes received), so the connection's setup and close are not counted.
// After the runs, one line from runs of both in turn (medians; both must have received every
// byte): "chunk receiver 200 KB chunks: fluxmere <ms> ms, recv <ms> ms, ratio <recv / ours>".

#include <benchmark/benchmark.h>

#include <chrono>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "streaming/rtp_receiver.h"

namespace fluxmere {
namespace {

constexpr size_t kChunkData = 200 * 1024;
constexpr int kChunksPerBlock = 16;
constexpr int kBlocksPerConnection = 32;  // 512 chunks, about 105 MB per iteration
constexpr size_t kReceiveBuffer = 290000;

const std::vector<char>& ChunkBlock() {
    static const std::vector<char> block = [] {
        std::vector<char> bytes;
        char line[16];
        const int n =
            std::snprintf(line, sizeof line, "%lx\r\n", static_cast<unsigned long>(kChunkData));
        for (int c = 0; c < kChunksPerBlock; ++c) {
            bytes.insert(bytes.end(), line, line + n);
            for (size_t i = 0; i < kChunkData; ++i)
                bytes.push_back(static_cast<char>(i * 31 + c));
            bytes.push_back('\r');
            bytes.push_back('\n');
        }
        return bytes;
    }();
    return block;
}

// One loopback connection whose far end sends kBlocksPerConnection blocks and then closes.
class SenderConnection {
public:
    SenderConnection() {
        const uint32_t address = platform::InetAddr("127.10.3.200");
        listening_ = platform::CreateTcpSocket();
        platform::SetReuseAddress(listening_, true);
        uint16_t port = 0;
        platform::BindSocket(listening_, address, 0);
        platform::GetLocalPort(listening_, &port);
        platform::ListenSocket(listening_, 1);
        thread_.Start(&SenderConnection::Send, this);
        client_ = platform::CreateTcpSocket();
        platform::SetRecvBufferSize(client_, 1048576);
        platform::ConnectSocket(client_, address, port);
    }
    ~SenderConnection() {
        thread_.Join(platform::kInfinite);
        platform::CloseSocket(listening_);
        platform::CloseSocket(client_);
    }
    platform::SocketHandle client() const { return client_; }
    static int64_t BytesPerConnection() {
        return static_cast<int64_t>(ChunkBlock().size()) * kBlocksPerConnection;
    }

private:
    static void Send(void* context) {
        auto* self = static_cast<SenderConnection*>(context);
        const platform::SocketHandle s = platform::AcceptSocket(self->listening_);
        const std::vector<char>& block = ChunkBlock();
        for (int i = 0; i < kBlocksPerConnection; ++i) {
            platform::SendAll(s, block.data(), static_cast<int>(block.size()));
        }
        platform::CloseSocket(s);
    }

    platform::SocketHandle listening_;
    platform::SocketHandle client_;
    platform::Thread thread_;
};

struct Viewer {
    std::vector<uint8_t> a = std::vector<uint8_t>(kReceiveBuffer);
    std::vector<uint8_t> b = std::vector<uint8_t>(kReceiveBuffer);
    platform::SocketHandle socket;
    int64_t chunkBytes = 0;
    std::chrono::steady_clock::time_point lastChunk;

    // Alternates the two buffers as the viewer does; closes the socket at the peer's close.
    static uint8_t* OnChunk(uint8_t* data, int32_t size, void* context) {
        auto* self = static_cast<Viewer*>(context);
        if (size == 0) {
            platform::CloseSocket(self->socket);
            return nullptr;
        }
        self->chunkBytes += size;
        self->lastChunk = std::chrono::steady_clock::now();
        return data >= self->a.data() && data < self->a.data() + self->a.size() ? self->b.data()
                                                                                : self->a.data();
    }
};

// One connection's worth through the chunk receiver: seconds to the last chunk, or a negative
// value when chunk data went missing.
double ReceiveChunks() {
    static Viewer viewer;
    static CRTPReceiver receiver;
    receiver.SetCallback(&Viewer::OnChunk, &viewer);
    SenderConnection connection;
    viewer.socket = connection.client();
    viewer.chunkBytes = 0;
    receiver.SetBuffer(viewer.a.data(), viewer.a.size());
    const auto start = std::chrono::steady_clock::now();
    receiver.Run(connection.client());
    if (viewer.chunkBytes !=
        static_cast<int64_t>(kChunkData) * kChunksPerBlock * kBlocksPerConnection) {
        return -1.0;
    }
    return std::chrono::duration<double>(viewer.lastChunk - start).count();
}

// The same connection read by a plain recv loop: seconds to the last bytes, or a negative value
// when bytes went missing.
double ReceivePlainly() {
    std::vector<char> buffer(65536);
    SenderConnection connection;
    int64_t total = 0;
    int got;
    const auto start = std::chrono::steady_clock::now();
    auto last = start;
    while ((got = platform::RecvSocket(connection.client(), buffer.data(), 65536)) > 0) {
        total += got;
        last = std::chrono::steady_clock::now();
    }
    if (total != SenderConnection::BytesPerConnection()) {
        return -1.0;
    }
    return std::chrono::duration<double>(last - start).count();
}

void BM_ChunkReceiver(benchmark::State& state) {
    platform::InitSockets();
    for (auto _ : state) {
        const double seconds = ReceiveChunks();
        if (seconds < 0) {
            state.SkipWithError("chunks lost");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(state.iterations() * SenderConnection::BytesPerConnection());
}

void BM_PlainRecvLoop(benchmark::State& state) {
    platform::InitSockets();
    for (auto _ : state) {
        const double seconds = ReceivePlainly();
        if (seconds < 0) {
            state.SkipWithError("bytes lost");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(state.iterations() * SenderConnection::BytesPerConnection());
}

BENCHMARK(BM_PlainRecvLoop)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1.0);
BENCHMARK(BM_ChunkReceiver)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(1.0);

}  // namespace
}  // namespace fluxmere

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    using namespace fluxmere;
    platform::InitSockets();
    const auto [ours, theirs] = bench::WallSideBySide([] { return 1000.0 * ReceiveChunks(); },
                                                      [] { return 1000.0 * ReceivePlainly(); }, 7);
    std::printf("\nSide by side, median wall time per connection (%lld MB):\n",
                static_cast<long long>(SenderConnection::BytesPerConnection() >> 20));
    bench::PrintLine("chunk receiver 200 KB chunks", "recv", ours, theirs, "ms",
                     ours < 0 ? "bytes went missing" : "", "every byte received by both");
    return 0;
}
