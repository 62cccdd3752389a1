#include "streaming/rtp_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/streaming/scripted_peer.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::Chunk;
using testing::LoopbackAddress;
using testing::NoticeGate;
using testing::Pattern;
using testing::ScriptedPeer;
using testing::Suite;

constexpr size_t kCapacity = 290000;
constexpr size_t kGuard = 64;

// Runs a receiver against a scripted peer and logs what the callback sees: "T" for time-out
// notices (a run of them counts once), "C" for the peer's close, "<size>" for a chunk whose
// data is checked against the expected chunks in order.
class ReceiverRun {
public:
    ReceiverRun(int index, size_t capacity = kCapacity)
        : peer(LoopbackAddress(Suite::Streaming, index)),
          capacity_(capacity),
          bufferA_(capacity + kGuard, 0xEE),
          bufferB_(capacity + kGuard, 0xEE) {}

    // Runs the loop on this thread until the peer's close; the callback then closes the socket.
    int32_t Run(uint32_t timeoutMs = 40) {
        peer.Start();
        socket_ = peer.ConnectClient();
        if (timeoutMs != 0)
            platform::SetRecvTimeout(socket_, timeoutMs);
        receiver.SetCallback(&ReceiverRun::OnChunk, this);
        receiver.SetBuffer(bufferA_.data(), capacity_);
        CountingSource source(this);
        const int32_t result = receiver.RunOn(source);
        platform::CloseSocket(socket_);
        const bool peerOk = peer.Finish();
        if (expectPeerOk) {
            EXPECT_TRUE(peerOk);
        }
        for (size_t i = capacity_; i < capacity_ + kGuard; ++i) {
            EXPECT_EQ(bufferA_[i], 0xEE);
            EXPECT_EQ(bufferB_[i], 0xEE);
        }
        return result;
    }

    static uint8_t* OnChunk(uint8_t* data, int32_t size, void* context) {
        auto* self = static_cast<ReceiverRun*>(context);
        if (size == 0) {
            const bool closed = self->receiver.LastNotice().cause != NoticeCause::TimedOut;
            const char* mark = closed ? "C" : "T";
            // A time-out before the peer's first byte (a slow start on a loaded machine) marks
            // no read boundary.
            const bool boundary = closed || self->received_ > 0;
            if (boundary && (self->log.empty() || self->log.back() != mark))
                self->log.push_back(mark);
            if (closed) {
                self->tail.assign(reinterpret_cast<char*>(data), self->tailSize);
                self->bodyWhole = self->receiver.LastNotice().BodyWhole();
                platform::CloseSocket(self->socket_);
            } else {
                self->gate.Notify();
            }
            return nullptr;
        }
        self->log.push_back(std::to_string(size));
        self->chunks.emplace_back(reinterpret_cast<char*>(data), size);
        self->offsets.push_back(self->OffsetOf(data));
        if (!self->alternate)
            return nullptr;
        return data >= self->bufferA_.data() && data < self->bufferA_.data() + self->capacity_
                   ? self->bufferB_.data()
                   : self->bufferA_.data();
    }

    // "A+n" or "B+n": where a chunk's data lay.
    std::string OffsetOf(const uint8_t* data) const {
        if (data >= bufferA_.data() && data < bufferA_.data() + capacity_)
            return "A+" + std::to_string(data - bufferA_.data());
        return "B+" + std::to_string(data - bufferB_.data());
    }

    ScriptedPeer peer;
    NoticeGate gate;
    CRTPReceiver receiver;
    bool alternate = false;
    bool expectPeerOk = true;  // false when the loop may end before the peer has sent all
    std::vector<std::string> log;
    std::vector<std::string> chunks;
    std::vector<std::string> offsets;
    size_t tailSize = 0;  // how many bytes of the buffer the close's notice keeps in tail
    std::string tail;
    bool bodyWhole = false;  // as the close's notice tells

private:
    // The socket's reads, counted.
    class CountingSource : public IChunkSource {
    public:
        explicit CountingSource(ReceiverRun* run) : run_(run) {}
        int Receive(uint8_t* buffer, int32_t length) override {
            const int got = platform::RecvSocket(run_->socket_, buffer, length);
            if (got > 0)
                run_->received_ += got;
            return got;
        }
        int LastError() override { return platform::LastSocketError(); }

    private:
        ReceiverRun* run_;
    };

    size_t capacity_;
    size_t received_ = 0;
    std::vector<uint8_t> bufferA_;
    std::vector<uint8_t> bufferB_;
    platform::SocketHandle socket_ = platform::kInvalidSocket;
};

using Log = std::vector<std::string>;

TEST(RtpReceiverTest, HandsOverOnlyBeyond128HeldBytes) {
    // A 26-byte chunk and nothing after it stays in the buffer, in either case of hex digit.
    for (bool upper : {false, true}) {
        ReceiverRun run(1 + upper);
        const std::string chunk = Chunk(Pattern(26, 1), upper);
        run.tailSize = chunk.size();
        run.peer.Send(chunk).ShutdownSend();
        EXPECT_EQ(run.Run(0), platform::kWsaENotSock);
        EXPECT_EQ(run.log, (Log{"C"}));
        EXPECT_EQ(run.tail, chunk);  // the notice still shows what is held
    }
    // 128 held bytes holding a complete chunk: nothing; the 129th byte hands it over.
    ReceiverRun run(3);
    const std::string data = Pattern(124, 2);  // "7c\r\n" + 124 bytes = 128
    run.peer.Send("7c\r\n" + data).WaitDrained(run.gate).Send("\r").ShutdownSend();
    run.Run();
    EXPECT_EQ(run.log, (Log{"T", "124", "C"}));
    EXPECT_EQ(run.chunks[0], data);
}

TEST(RtpReceiverTest, ChunksAcrossAndWithinReads) {
    const std::string a = Pattern(200, 3), b = Pattern(300, 4), c = Pattern(150000, 5);
    {
        SCOPED_TRACE("two chunks in one read, handed over without a read between them");
        ReceiverRun run(10);
        run.peer.Send(Chunk(a) + Chunk(b)).ShutdownSend();
        run.Run(0);
        EXPECT_EQ(run.log, (Log{"200", "300", "C"}));
        EXPECT_EQ(run.chunks, (Log{a, b}));
        // The bytes after the first chunk moved to the buffer's start: "\r\n12c\r\n".
        EXPECT_EQ(run.offsets, (Log{"A+4", "A+7"}));
    }
    {
        SCOPED_TRACE("a chunk over several reads is handed over once, after the last");
        ReceiverRun run(11);
        const std::string bytes = Chunk(a) + Chunk(b);
        run.peer.Send(bytes.substr(0, 100))
            .WaitDrained(run.gate)
            .Send(bytes.substr(100, 50))
            .WaitDrained(run.gate)
            .Send(bytes.substr(150, 60))
            .WaitDrained(run.gate)
            .Send(bytes.substr(210))
            .ShutdownSend();
        run.Run();
        EXPECT_EQ(run.log, (Log{"T", "200", "T", "300", "C"}));
        EXPECT_EQ(run.chunks, (Log{a, b}));
    }
    {
        SCOPED_TRACE("a chunk larger than one read, with the next chunk's start behind it");
        ReceiverRun run(12);
        run.peer.Send(Chunk(c) + Chunk(a)).ShutdownSend();
        run.Run(0);
        EXPECT_EQ(run.log, (Log{"150000", "200", "C"}));
        EXPECT_EQ(run.chunks, (Log{c, a}));
    }
}

TEST(RtpReceiverTest, BufferSwitchCarriesTheLeftoverBytes) {
    ReceiverRun run(20);
    run.alternate = true;
    const std::string a = Pattern(200, 6), b = Pattern(200, 7), c = Pattern(300, 8);
    const std::string bytes = Chunk(a) + Chunk(b) + Chunk(c);
    // The first read ends inside the second chunk's data.
    run.peer.Send(bytes.substr(0, 300))
        .WaitDrained(run.gate)
        .Send(bytes.substr(300))
        .ShutdownSend();
    run.Run();
    EXPECT_EQ(run.log, (Log{"200", "T", "200", "300", "C"}));
    EXPECT_EQ(run.chunks, (Log{a, b, c}));
    // After each switch the next size line is read after the leading CR LF at the buffer's start.
    EXPECT_EQ(run.offsets, (Log{"A+4", "B+6", "A+7"}));
}

TEST(RtpReceiverTest, SizeLineReadings) {
    {
        SCOPED_TRACE("a character that is not a hex digit counts as 0: 1x is 16");
        ReceiverRun run(30);
        const std::string filler = Pattern(200, 9);
        run.peer.Send("1x\r\n" + Pattern(16, 10) + "\r\n" + Chunk(filler)).ShutdownSend();
        run.Run(0);
        EXPECT_EQ(run.log, (Log{"16", "200", "C"}));
        EXPECT_EQ(run.chunks[0], Pattern(16, 10));
    }
    {
        SCOPED_TRACE("a chunk of size 0 is never handed over and the loop goes on reading");
        ReceiverRun run(31);
        run.peer.Send("0\r\n\r\n" + Chunk(Pattern(200, 11)))
            .WaitDrained(run.gate)
            .Send(Chunk(Pattern(300, 12)))
            .ShutdownSend();
        EXPECT_EQ(run.Run(), platform::kWsaENotSock);
        EXPECT_EQ(run.log, (Log{"T", "C"}));
    }
    {
        SCOPED_TRACE("strict framing: extensions are skipped, a signed size ends the loop");
        ReceiverRun run(32);
        run.receiver.SetRule(ChunkRule::Strict);
        run.expectPeerOk = false;
        run.peer
            .Send("100;q=1\r\n" + Pattern(256, 13) + "\r\n" + "C8 ;x\r\n" + Pattern(200, 14) +
                  "\r\n-400\r\n" + Pattern(1024, 15) + "\r\n")
            .ShutdownSend();
        EXPECT_EQ(run.Run(0), CRTPReceiver::kBadFraming);
        EXPECT_EQ(run.log, (Log{"256", "200"}));
    }
    {
        SCOPED_TRACE("strict framing: data must be followed by CR LF");
        ReceiverRun run(33);
        run.receiver.SetRule(ChunkRule::Strict);
        run.expectPeerOk = false;
        run.peer.Send(Chunk(Pattern(200, 16)).substr(0, 204) + "XY" + Chunk(Pattern(200, 17)))
            .ShutdownSend();
        EXPECT_EQ(run.Run(0), CRTPReceiver::kBadFraming);
        EXPECT_EQ(run.log, (Log{"200"}));
    }
}

// A body's last chunks can be fewer bytes than the parse threshold: under the strict rule the
// close hands them over before its notice, which tells whether the body was whole.
TEST(RtpReceiverTest, StrictRuleHandsOverTheBodysLastChunksAtTheClose) {
    const std::string big = Pattern(200, 20), small = Pattern(26, 21);
    struct Case {
        const char* what;
        ChunkRule rule;
        std::string bytes;
        Log log;
        bool whole;
    } cases[] = {
        {"terminated", ChunkRule::Strict, Chunk(big) + Chunk(small) + "0\r\n\r\n",
         Log{"200", "26", "C"}, true},
        {"closed at a chunk boundary", ChunkRule::Strict, Chunk(big) + Chunk(small),
         Log{"200", "26", "C"}, true},
        {"cut inside the last chunk", ChunkRule::Strict, Chunk(big) + Chunk(small).substr(0, 20),
         Log{"200", "C"}, false},
        {"the live stream keeps them", ChunkRule::Lenient, Chunk(big) + Chunk(small),
         Log{"200", "C"}, false},
    };
    int index = 35;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReceiverRun run(index++);
        run.receiver.SetRule(c.rule);
        run.peer.Send(c.bytes).ShutdownSend();
        EXPECT_EQ(run.Run(0), platform::kWsaENotSock);
        EXPECT_EQ(run.log, c.log);
        EXPECT_EQ(run.bodyWhole, c.whole);
        EXPECT_EQ(run.chunks.back(), c.log.size() == 3 ? small : big);
    }
}

struct OversizeCase {
    const char* name;
    std::string bytes;
    size_t capacity;
    int32_t expected;
    Log log;
};

TEST(RtpReceiverTest, RefusesWhatCannotFitTheBuffer) {
    const std::string fits = Pattern(10000, 13);
    const size_t exact = 6 + fits.size() + 65536;  // "2710\r\n" + data + one read
    const OversizeCase cases[] = {
        {"chunk that exactly fits",
         Chunk(fits) + Chunk(Pattern(200, 1)),
         exact,
         platform::kWsaENotSock,
         {"10000", "200", "C"}},
        {"chunk one byte too large",
         Chunk(fits + "x") + Chunk(Pattern(200, 1)),
         exact,
         CRTPReceiver::kChunkTooLarge,
         {}},
        {"size beyond 32 bits",
         "fffffffffffff\r\n" + Pattern(300, 2),
         exact,
         CRTPReceiver::kChunkTooLarge,
         {}},
        {"size line without its end",
         std::string(20000, '1'),
         exact,
         CRTPReceiver::kChunkTooLarge,
         {}},
        {"bytes piling up behind a chunk of size 0",
         "0\r\n\r\n" + Pattern(100000, 3),
         100000,
         CRTPReceiver::kChunkTooLarge,
         {}},
        {"buffer smaller than one read",
         Chunk(Pattern(200, 1)),
         60000,
         CRTPReceiver::kChunkTooLarge,
         {}},
    };
    int index = 40;
    for (const OversizeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ReceiverRun run(index++, c.capacity);
        run.expectPeerOk = c.expected != CRTPReceiver::kChunkTooLarge;
        run.peer.Send(c.bytes).ShutdownSend();
        EXPECT_EQ(run.Run(0), c.expected);
        EXPECT_EQ(run.log, c.log);
    }
}

TEST(RtpReceiverTest, NoticeEveryTimeoutWhilePeerIsSilent) {
    // Silent peer, 2000 ms time-out: notices come one per time-out, never sooner.
    ReceiverRun run(50);
    platform::Event done(true, false);
    run.peer.WaitFor(done);
    struct Timing {
        std::vector<uint64_t> at;
        platform::SocketHandle socket;
    } timing;
    run.peer.Start();
    timing.socket = run.peer.ConnectClient();
    platform::SetRecvTimeout(timing.socket, 2000);
    run.receiver.SetCallback(
        [](uint8_t*, int32_t size, void* context) -> uint8_t* {
            auto* t = static_cast<Timing*>(context);
            EXPECT_EQ(size, 0);
            t->at.push_back(platform::MonotonicMs());
            if (t->at.size() == 2)
                platform::CloseSocket(t->socket);
            return nullptr;
        },
        &timing);
    std::vector<uint8_t> buffer(kCapacity);
    run.receiver.SetBuffer(buffer.data(), buffer.size());
    const uint64_t start = platform::MonotonicMs();
    EXPECT_EQ(run.receiver.Run(timing.socket), platform::kWsaENotSock);
    done.Set();
    EXPECT_TRUE(run.peer.Finish());  // the peer has left its wait on done
    ASSERT_EQ(timing.at.size(), 2u);
    uint64_t previous = start;
    for (uint64_t at : timing.at) {
        EXPECT_GE(at - previous, 1900u);
        previous = at;
    }
}

// A device that reboots resets the connection; on Windows every later read fails with 10054.
// The callback hears of it as of a close, and its close of the socket ends the loop.
TEST(RtpReceiverTest, ResetConnectionIsReportedAsTheClose) {
    ReceiverRun run(51);
    const std::string data = Pattern(300, 3);
    run.peer.Send(Chunk(data)).Reset();
    platform::Event finished(true, false);
    std::thread watchdog([&] {
        if (finished.Wait(5000) != platform::WaitResult::Signaled)
            run.receiver.Stop();  // a loop that passes the error over never ends by itself
    });
    const int32_t result = run.Run();
    finished.Set();
    watchdog.join();
    EXPECT_EQ(result, platform::kWsaENotSock);
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log.back(), "C");
    EXPECT_NE(std::find(run.log.begin(), run.log.end(), "300"), run.log.end());
    ASSERT_FALSE(run.chunks.empty());
    EXPECT_EQ(run.chunks.front(), data);
}

// A source that hands out its steps in order: bytes, or a failed read with a code (repeated for
// ever when it is the last step). Once the callback has closed it, reads fail with 10038; a
// loop that never hears of the failure would read on, so the source gives up after 1000 reads.
class StepSource : public IChunkSource {
public:
    struct Step {
        std::string bytes;
        int error;  // used when bytes is empty: 0 for the peer's close
    };
    explicit StepSource(std::vector<Step> steps) : steps_(std::move(steps)) {}
    int Receive(uint8_t* buffer, int32_t length) override {
        if (closed || ++reads > 1000) {
            error_ = platform::kWsaENotSock;
            return -1;
        }
        const Step& step = steps_[at_ < steps_.size() - 1 ? at_++ : at_];
        if (step.bytes.empty()) {
            error_ = step.error;
            return step.error == 0 ? 0 : -1;
        }
        const int n = std::min(length, static_cast<int32_t>(step.bytes.size()));
        std::copy_n(step.bytes.begin(), n, buffer);
        return n;
    }
    int LastError() override { return error_; }

    bool closed = false;
    int reads = 0;

private:
    std::vector<Step> steps_;
    size_t at_ = 0;
    int error_ = 0;
};

// A read error that breaks the connection is told once, like a reset, so that the owner closes
// the socket; an interrupted or empty read, and Wine's code for a read broken off by a close, are
// read again. When the closed handle's number already names something else (Windows reuses
// them), the reads after the notice keep failing: the loop ends instead of reading on.
TEST(RtpReceiverTest, ReadErrorsEndTheConnectionOrAreReadAgain) {
    struct Case {
        int error;
        bool readAgain;
        bool handleReused;  // the callback's close does not make the reads fail with 10038
    };
    const Case cases[] = {
        {platform::kWsaENetDown, false, false},
        {10052 /* WSAENETRESET */, false, false},
        {10058 /* WSAESHUTDOWN */, false, false},
        {10014 /* WSAEFAULT */, false, false},
        {platform::kWsaEConnReset, false, false},
        {platform::kWsaEConnReset, false, true},
        {10045 /* WSAEOPNOTSUPP: a file now holds the number */, false, true},
        {platform::kWsaEIntr, true, false},
        {platform::kWsaEWouldBlock, true, false},
        {platform::kWsaEInval, true, false},
    };
    const std::string first = Chunk(Pattern(300, 1));
    const std::string second = Chunk(Pattern(200, 2));
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.error << (c.handleReused ? " reused" : ""));
        std::vector<StepSource::Step> steps = {{first, 0}, {"", c.error}};
        if (c.readAgain)
            steps.insert(steps.end(), {{"", c.error}, {second, 0}, {"", 0}});
        StepSource source(steps);
        struct Seen {
            StepSource* source;
            CRTPReceiver* receiver;
            bool closes;
            std::vector<int32_t> sizes;
            std::vector<NoticeCause> notices;
        };
        CRTPReceiver receiver(1);
        Seen seen{&source, &receiver, !c.handleReused, {}, {}};
        std::vector<uint8_t> buffer(kCapacity);
        receiver.SetBuffer(buffer.data(), buffer.size());
        receiver.SetCallback(
            [](uint8_t*, int32_t size, void* context) -> uint8_t* {
                auto* seen = static_cast<Seen*>(context);
                if (size > 0) {
                    seen->sizes.push_back(size);
                } else {
                    seen->notices.push_back(seen->receiver->LastNotice().cause);
                    seen->source->closed = seen->closes;
                }
                return nullptr;
            },
            &seen);
        EXPECT_EQ(receiver.RunOn(source), c.handleReused ? c.error : platform::kWsaENotSock);
        EXPECT_LE(source.reads, 1000) << "the loop read on without telling anyone";
        const std::vector<int32_t> sizes =
            c.readAgain ? std::vector<int32_t>{300, 200} : std::vector<int32_t>{300};
        const NoticeCause end = c.readAgain ? NoticeCause::PeerClosed : NoticeCause::ConnectionLost;
        EXPECT_EQ(seen.sizes, sizes);
        EXPECT_EQ(seen.notices, std::vector<NoticeCause>{end});
    }
}

TEST(RtpReceiverTest, RefusesToStartWithoutBufferOrStreamSocket) {
    CRTPReceiver receiver;
    int calls = 0;
    receiver.SetCallback(
        [](uint8_t*, int32_t, void* c) -> uint8_t* {
            ++*static_cast<int*>(c);
            return nullptr;
        },
        &calls);
    EXPECT_EQ(receiver.Run(platform::kInvalidSocket), -1);  // no buffer
    std::vector<uint8_t> buffer(kCapacity);
    receiver.SetBuffer(buffer.data(), buffer.size());
    EXPECT_EQ(receiver.Run(platform::kInvalidSocket), -1);  // not a socket
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(receiver.Stop());  // not running: true at once
}

TEST(RtpReceiverTest, StopEndsARunningLoop) {
    ReceiverRun run(60);
    platform::Event done(true, false);
    run.peer.WaitFor(done);
    run.peer.Start();
    const platform::SocketHandle s = run.peer.ConnectClient();
    platform::SetRecvTimeout(s, 20);
    std::vector<uint8_t> buffer(kCapacity);
    NoticeGate notices;
    run.receiver.SetCallback(
        [](uint8_t*, int32_t, void* c) -> uint8_t* {
            static_cast<NoticeGate*>(c)->Notify();
            return nullptr;
        },
        &notices);
    run.receiver.SetBuffer(buffer.data(), buffer.size());
    int32_t result = 99;
    std::thread loop([&] { result = run.receiver.Run(s); });
    ASSERT_TRUE(notices.WaitTwoBeyond(-1));  // the loop is running: it reported a time-out
    EXPECT_FALSE(run.receiver.Stop());
    loop.join();
    EXPECT_EQ(result, platform::kWsaETimedOut);  // the last read error
    EXPECT_TRUE(run.receiver.Stop());
    done.Set();
    platform::CloseSocket(s);
    EXPECT_TRUE(run.peer.Finish());
}

}  // namespace
}  // namespace fluxmere
