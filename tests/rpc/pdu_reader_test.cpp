// The connection reader of the runtime: PDUs come out whole and in order
// however the stream splits or joins them, bytes of the next PDU that arrive
// with one are kept for the next read, and the ends of a stream, deadlines
// and the stop descriptor are told apart.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "pdu.h"
#include "transport.h"

namespace {

using namespace platform::rpc;
using transport::Io;
using transport::UniqueFd;
using Arrival = transport::PduReader::Arrival;

constexpr uint16_t kMaxFrag = 65535;

// A request PDU with `stubBytes` of stub, each byte holding its call id.
std::vector<uint8_t> Request(uint32_t callId, size_t stubBytes) {
    std::vector<uint8_t> stub(stubBytes, static_cast<uint8_t>(callId));
    return wire::EncodeRequest(callId, wire::kSingleFrag, static_cast<uint32_t>(stubBytes), 0, 1, stub.data(),
                               stub.size());
}

class PduReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
        ours_.reset(pair[0]);
        theirs_.reset(pair[1]);
    }
    void Write(const std::vector<uint8_t>& bytes, size_t from = 0, size_t count = SIZE_MAX) {
        count = std::min(count, bytes.size() - from);
        ASSERT_EQ(::write(theirs_.get(), bytes.data() + from, count), static_cast<ssize_t>(count));
    }
    Io Read(std::vector<uint8_t>& pdu, Arrival arrival = Arrival::Awaited, int timeoutMs = 2000, int stopFd = -1) {
        wire::Header header;
        Io io = reader_.Read(ours_.get(), kMaxFrag, timeoutMs, stopFd, arrival, pdu, header);
        if (io == Io::Ok) {
            EXPECT_EQ(header.fragLength, pdu.size());
        }
        return io;
    }

    UniqueFd ours_, theirs_;
    transport::PduReader reader_;
};

TEST_F(PduReaderTest, PdusThatArriveTogetherComeOutOneByOneAndInOrder) {
    // Small ones, and one larger than the reader's first buffer, all in the
    // socket before the first read.
    const std::vector<std::vector<uint8_t>> sent = {Request(1, 8), Request(2, 100), Request(3, 20000), Request(4, 0)};
    std::vector<uint8_t> stream;
    for (const auto& pdu : sent) stream.insert(stream.end(), pdu.begin(), pdu.end());
    Write(stream);
    theirs_.reset();
    for (const auto& expected : sent) {
        std::vector<uint8_t> pdu;
        ASSERT_EQ(Read(pdu, Arrival::Likely), Io::Ok);
        EXPECT_EQ(pdu, expected);
    }
    std::vector<uint8_t> pdu;
    EXPECT_EQ(Read(pdu), Io::Closed) << "the stream ended between PDUs";
}

TEST_F(PduReaderTest, APduSplitAcrossWritesIsReassembledWhateverTheWait) {
    const auto first = Request(7, 300);
    const auto second = Request(8, 40);
    for (Arrival arrival : {Arrival::Likely, Arrival::Awaited}) {
        SetUp();
        reader_ = transport::PduReader();
        std::thread writer([&] {
            // The header in two pieces, the body in two, and the next PDU's
            // first bytes with the end of this one.
            const size_t cuts[] = {0, 5, 16, 150};
            for (size_t k = 0; k + 1 < std::size(cuts); ++k) {
                Write(first, cuts[k], cuts[k + 1] - cuts[k]);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            std::vector<uint8_t> rest(first.begin() + 150, first.end());
            rest.insert(rest.end(), second.begin(), second.begin() + 10);
            Write(rest);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            Write(second, 10);
        });
        std::vector<uint8_t> pdu;
        EXPECT_EQ(Read(pdu, arrival), Io::Ok);
        EXPECT_EQ(pdu, first);
        EXPECT_EQ(Read(pdu, arrival), Io::Ok);
        EXPECT_EQ(pdu, second);
        writer.join();
    }
}

TEST_F(PduReaderTest, EndsOfTheStreamDeadlinesAndStopAreToldApart) {
    std::vector<uint8_t> pdu;
    // Nothing comes: the deadline passes.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(pdu, Arrival::Awaited, 100), Io::Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));

    // A blocking socket is waited for the same way: the receive itself
    // never blocks, so the deadline holds.
    int blocking = 0;
    ASSERT_EQ(::ioctl(ours_.get(), FIONBIO, &blocking), 0);
    for (Arrival arrival : {Arrival::Likely, Arrival::Awaited}) EXPECT_EQ(Read(pdu, arrival, 100), Io::Timeout);

    // The stop descriptor becomes readable while the reader waits.
    UniqueFd stop(::eventfd(0, EFD_CLOEXEC));
    uint64_t one = 1;
    ASSERT_EQ(::write(stop.get(), &one, sizeof one), 8);
    EXPECT_EQ(Read(pdu, Arrival::Awaited, 2000, stop.get()), Io::Stopped);

    // A header that is not one of ours.
    std::vector<uint8_t> junk(16, 0xee);
    Write(junk);
    EXPECT_EQ(Read(pdu), Io::Malformed);
}

TEST_F(PduReaderTest, AStreamThatEndsInsideAPduIsBroken) {
    const auto whole = Request(5, 64);
    for (size_t cut : {size_t{3}, size_t{16}, whole.size() - 1}) {
        SetUp();
        reader_ = transport::PduReader();
        Write(whole, 0, cut);
        theirs_.reset();
        std::vector<uint8_t> pdu;
        EXPECT_EQ(Read(pdu), Io::Broken) << "cut after " << cut << " bytes";
    }
}

TEST_F(PduReaderTest, AMovedReaderKeepsWhatItHadBuffered) {
    const auto first = Request(1, 8);
    const auto second = Request(2, 8);
    std::vector<uint8_t> both(first);
    both.insert(both.end(), second.begin(), second.end());
    Write(both);
    std::vector<uint8_t> pdu;
    ASSERT_EQ(Read(pdu), Io::Ok);
    transport::PduReader moved = std::move(reader_);
    wire::Header header;
    theirs_.reset();
    ASSERT_EQ(moved.Read(ours_.get(), kMaxFrag, 1000, -1, Arrival::Awaited, pdu, header), Io::Ok);
    EXPECT_EQ(pdu, second);
    EXPECT_EQ(reader_.Read(ours_.get(), kMaxFrag, 1000, -1, Arrival::Awaited, pdu, header), Io::Closed)
        << "the moved-from reader starts empty";
}

}  // namespace
