#include "launcher/InstanceMessage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "config/ValueChecks.h"
#include "launcher/SingleInstance.h"
#include "platform/InstanceChannel.h"

using namespace kvx;

namespace {

const uint16_t* units(const std::u16string& text) { return reinterpret_cast<const uint16_t*>(text.c_str()); }

std::u16string entryOf(const WideStringList& list, int32_t i) {
    return std::u16string(reinterpret_cast<const char16_t*>(list.entry(i)), static_cast<size_t>(list.entryLength(i)));
}

GrowBuffer<uint8_t> encoded(const std::u16string& dir, const WideStringList& args) {
    GrowBuffer<uint8_t> out;
    EXPECT_TRUE(encodeInstanceMessage(units(dir), static_cast<int32_t>(dir.size()), args, out));
    return out;
}

}  // namespace

TEST(InstanceMessageTest, TextsComeBackWholeAndEverySpoiledMessageIsRefused) {
    WideStringList args;
    const std::u16string hangul = u"\uD55C\uAD6D\uC5B4", emoji = u"\U0001F600", dir = u"C:\\Users\\\uD55C";
    args.add(units(hangul));
    args.add(nullptr);  // an empty argument stays an argument
    args.add(units(emoji));
    GrowBuffer<uint8_t> message = encoded(dir, args);
    WideStringList texts;
    ASSERT_TRUE(decodeInstanceMessage(message.data(), static_cast<uint32_t>(message.length()), texts));
    ASSERT_EQ(texts.count(), 4);
    EXPECT_EQ(entryOf(texts, 0), dir);
    EXPECT_EQ(entryOf(texts, 1), hangul);
    EXPECT_EQ(entryOf(texts, 2), u"");
    EXPECT_EQ(entryOf(texts, 3), emoji);

    // Cut anywhere, one byte too many, a count beyond the data, no texts at all: refused.
    const uint32_t size = static_cast<uint32_t>(message.length());
    for (uint32_t cut = 0; cut < size; ++cut)
        EXPECT_FALSE(decodeInstanceMessage(message.data(), cut, texts)) << "cut at " << cut;
    GrowBuffer<uint8_t> longer = message;
    const uint8_t extra = 0;
    longer.appendElements(&extra, 1);
    EXPECT_FALSE(decodeInstanceMessage(longer.data(), size + 1, texts));
    GrowBuffer<uint8_t> lying = message;
    lying.data()[4] = 0xFF;  // the working directory claims more units than follow
    EXPECT_FALSE(decodeInstanceMessage(lying.data(), size, texts));
    const uint8_t none[4] = {0, 0, 0, 0};
    EXPECT_FALSE(decodeInstanceMessage(none, 4, texts));
    EXPECT_EQ(texts.count(), 0);

    // A well-formed message over the bound is refused as well.
    WideStringList big;
    std::u16string huge(INSTANCE_MESSAGE_MAX / 2, u'x');
    big.add(units(huge));
    GrowBuffer<uint8_t> over = encoded(u"", big);
    EXPECT_GT(static_cast<uint32_t>(over.length()), INSTANCE_MESSAGE_MAX);
    EXPECT_FALSE(decodeInstanceMessage(over.data(), static_cast<uint32_t>(over.length()), texts));
}

TEST(InstanceMessageTest, NamesAndAddressesThatLauncherAndPackagerAccept) {
    EXPECT_TRUE(isSingleInstanceName("com.example.Editor_2-x"));
    EXPECT_TRUE(isSingleInstanceName(std::string(64, 'a').c_str()));
    for (const char* bad : {"", "a b", "a/b", "a\\b", "..\xC3\xA9", "a:b"}) EXPECT_FALSE(isSingleInstanceName(bad)) << bad;
    EXPECT_FALSE(isSingleInstanceName(std::string(65, 'a').c_str()));

    for (const char* good : {"https://example.com/java", "HTTP://example.com", "http://x/?a=1&b=2"})
        EXPECT_TRUE(isJreDownloadAddress(good)) << good;
    for (const char* bad : {"file:///C:/Windows/system32/calc.exe", "javascript:alert(1)", "https://", "http:/x",
                            "ftp://example.com", "https://a b", "https://a\"b", "https://a\tb", "httpsx://a",
                            "\\\\server\\share"})
        EXPECT_FALSE(isJreDownloadAddress(bad)) << bad;
}

TEST(InstanceMessageTest, TheQueueKeepsAtMostItsBoundAndRefusesWhatIsMalformed) {
    // No listener in this process: hand-overs wait, up to the bound.
    WideStringList args;
    GrowBuffer<uint8_t> message = encoded(u"dir", args);
    const uint32_t size = static_cast<uint32_t>(message.length());
    EXPECT_FALSE(receiveInstanceMessage(message.data(), 3, false));
    EXPECT_FALSE(receiveInstanceMessage(message.data(), 3, true));
    for (int32_t i = 0; i < INSTANCE_QUEUE_MAX; ++i) {
        EXPECT_TRUE(receiveInstanceMessage(message.data(), size, false)) << i;
        EXPECT_TRUE(receiveInstanceMessage(message.data(), size, true)) << i;
    }
    EXPECT_FALSE(receiveInstanceMessage(message.data(), size, false));
    EXPECT_FALSE(receiveInstanceMessage(message.data(), size, true));
}

namespace {

GrowBuffer<uint8_t> g_received;
std::atomic<int> g_receivedCount{0};

// The running side takes a message once the sender confirmed, just after the sender returned.
int receivedAfter(int expected) {
    for (int i = 0; i < 200 && g_receivedCount.load() < expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return g_receivedCount.load();
}

bool recordMessage(const uint8_t* data, uint32_t size, bool take) {
    if (!take) return size != 3;  // a size this test refuses on purpose
    g_received.setLength(0);
    g_received.appendElements(data, static_cast<int32_t>(size));
    ++g_receivedCount;
    return true;
}

}  // namespace

// The platform channel within one process: the first claim holds the name, the next ones
// hand over to it (a second pipe client, or a second lock owner on Linux).
TEST(InstanceChannelTest, SecondClaimHandsOverAndTheAnswerSaysWhatHappened) {
    std::string name = "kvx-unit-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                       std::to_string(reinterpret_cast<uintptr_t>(&g_received) & 0xFFFF);
    const uint8_t first[] = {1};
    ASSERT_EQ(platform::claimInstanceOrHandOver(name.c_str(), first, 1, 100, recordMessage),
              platform::InstanceClaim::FIRST);
    const uint8_t message[] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(platform::claimInstanceOrHandOver(name.c_str(), message, 4, 100, recordMessage),
              platform::InstanceClaim::DELIVERED);
    ASSERT_EQ(receivedAfter(1), 1);
    EXPECT_EQ(g_received.length(), 4);
    EXPECT_EQ(g_received.data()[3], 'd');
    EXPECT_EQ(platform::claimInstanceOrHandOver(name.c_str(), message, 3, 100, recordMessage),
              platform::InstanceClaim::REFUSED);
    // Over the bound: refused by its size, never received.
    EXPECT_EQ(platform::claimInstanceOrHandOver(name.c_str(), message, 101, 100, recordMessage),
              platform::InstanceClaim::REFUSED);
    EXPECT_EQ(receivedAfter(2), 1) << "refused messages are never taken";
    platform::closeInstanceChannel();
    // Let go: the next claim of the name is a first one again.
    EXPECT_EQ(platform::claimInstanceOrHandOver(name.c_str(), message, 4, 100, recordMessage),
              platform::InstanceClaim::FIRST);
}
