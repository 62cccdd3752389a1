// Costs of the waits and socket calls on the per-frame and per-block paths.

#include <benchmark/benchmark.h>

#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "tests/support/loopback.h"

namespace fluxmere::platform {
namespace {

// The hand-off lock of a viewer: a semaphore of one, taken and given back per frame.
void BM_SemaphoreTakeGive(benchmark::State& state) {
    Semaphore lock(1, 1);
    for (auto _ : state) {
        lock.Wait(kInfinite);
        lock.Release();
    }
}
BENCHMARK(BM_SemaphoreTakeGive);

// The transcoding thread's wait when a block is already counted.
void BM_WaitForEitherFirstReady(benchmark::State& state) {
    Semaphore blocks(0, 1);
    Event done(true, false);
    for (auto _ : state) {
        blocks.Release();
        benchmark::DoNotOptimize(WaitForEither(blocks, done, kInfinite));
    }
}
BENCHMARK(BM_WaitForEitherFirstReady);

struct PingPong {
    Event ping{false, false};
    Event pong{false, false};
    bool stop = false;
};

void Answer(void* context) {
    auto* p = static_cast<PingPong*>(context);
    for (;;) {
        p->ping.Wait(kInfinite);
        if (p->stop)
            return;
        p->pong.Set();
    }
}

// One wake of another thread and back: the producer/consumer round trip.
void BM_EventPingPong(benchmark::State& state) {
    PingPong p;
    Thread thread;
    thread.Start(Answer, &p);
    for (auto _ : state) {
        p.ping.Set();
        p.pong.Wait(kInfinite);
    }
    p.stop = true;
    p.ping.Set();
    thread.Join(kInfinite);
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

// Loopback transfer in reads of up to 64 KiB, as the chunk receiver reads.
struct Drain {
    SocketHandle socket;
};

void ReadAll(void* context) {
    static char buffer[65536];
    auto* drain = static_cast<Drain*>(context);
    while (RecvSocket(drain->socket, buffer, sizeof buffer) > 0) {
    }
}

void BM_LoopbackSend64K(benchmark::State& state) {
    InitSockets();
    const uint32_t address = testing::LoopbackAddress(testing::Suite::Platform, 200);
    SocketHandle listener = CreateTcpSocket();
    uint16_t port = 0;
    BindSocket(listener, address, 0);
    GetLocalPort(listener, &port);
    ListenSocket(listener, 1);
    SocketHandle client = CreateTcpSocket();
    ConnectSocket(client, address, port);
    Drain drain{AcceptSocket(listener)};
    Thread reader;
    reader.Start(ReadAll, &drain);
    static char block[65536];
    for (auto _ : state)
        SendAll(client, block, sizeof block);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof block));
    CloseSocket(client);
    reader.Join(kInfinite);
    CloseSocket(drain.socket);
    CloseSocket(listener);
}
BENCHMARK(BM_LoopbackSend64K)->UseRealTime();

}  // namespace
}  // namespace fluxmere::platform

BENCHMARK_MAIN();
