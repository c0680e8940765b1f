// The reply reader and the values read out of replies.
#include <gtest/gtest.h>

#include "transfer/ftp/reply.h"
#include "transfer/ftp/reply_values.h"
#include "transfer/ftp/server_features.h"

namespace klvr {
namespace {

// Feeds text in chunks of the given size and collects every reply.
std::vector<Reply> ReadAll(const std::string& text, std::size_t chunk) {
    ReplyReader reader;
    std::vector<Reply> replies;
    for (std::size_t at = 0; at < text.size(); at += chunk) {
        std::string_view piece = std::string_view(text).substr(at, chunk);
        while (!piece.empty()) {
            piece.remove_prefix(reader.Feed(piece));
            if (reader.Ready()) replies.push_back(reader.Take());
        }
    }
    return replies;
}

TEST(ReplyReader, SingleAndMultiLineRepliesInAnyChunking) {
    const std::string text =
        "220 Welcome\r\n"
        "230-First line\r\n"
        "230 is not the end unless it is ours\r\n"  // ends it: same code and a blank
        "211-Features:\r\n"
        " EPSV\r\n"
        "211 MDTM\r\n"  // a line that only starts with digits of another code does not end it
        "150-multi\n"
        "226 not the end\n"
        "150 end\n"
        "200\r\n";
    for (std::size_t chunk : {1u, 3u, 7u, 1000u}) {
        auto replies = ReadAll(text, chunk);
        ASSERT_EQ(replies.size(), 5u) << chunk;
        EXPECT_EQ(replies[0].code, 220);
        EXPECT_EQ(replies[0].Text(), "220 Welcome");
        EXPECT_EQ(replies[1].code, 230);
        EXPECT_EQ(replies[1].lines.size(), 2u);
        EXPECT_EQ(replies[2].code, 211);
        EXPECT_EQ(replies[2].lines.size(), 3u);
        EXPECT_EQ(replies[3].code, 150);
        EXPECT_EQ(replies[3].lines.size(), 3u);
        EXPECT_EQ(replies[4].code, 200);
    }
}

TEST(ReplyReader, UnreadableRepliesAreFlaggedNotGuessed) {
    for (const char* text : {"hello\r\n", "99 too short\r\n", "2200 four digits\r\n", "620 bad class\r\n"}) {
        auto replies = ReadAll(text, 100);
        ASSERT_EQ(replies.size(), 1u) << text;
        EXPECT_TRUE(replies[0].Malformed()) << text;
    }
}

TEST(ReplyReader, HostileRepliesStayBounded) {
    // an endless line and an endless multi-line reply: memory stays small, the reader keeps going
    std::string longLine = "220 " + std::string(1 << 20, 'x') + "\r\n";
    auto replies = ReadAll(longLine, 4096);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_LE(replies[0].lines[0].size(), ReplyReader::kMaxLineLength);

    std::string many = "220-start\r\n";
    for (int i = 0; i < 200; ++i) many += "more\r\n";
    many += "220 end\r\n";
    replies = ReadAll(many, 512);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, 220);
    EXPECT_LE(replies[0].lines.size(), ReplyReader::kMaxKeptLines);

    std::string endless = "220-start\r\n";
    for (std::size_t i = 0; i < ReplyReader::kMaxReplyLines + 5; ++i) endless += "x\n";
    replies = ReadAll(endless, 65536);
    ASSERT_GE(replies.size(), 1u);
    EXPECT_TRUE(replies[0].Malformed());
}

TEST(ReplyValues, PassiveAnswers) {
    auto pasv = ParsePasvReply("227 Entering Passive Mode (192,168,1,20,195,80).");
    ASSERT_TRUE(pasv);
    EXPECT_EQ(pasv->address, (std::array<std::uint8_t, 4>{192, 168, 1, 20}));
    EXPECT_EQ(pasv->port, 195 * 256 + 80);
    EXPECT_TRUE(ParsePasvReply("227 =10,0,0,1,4,1"));  // without brackets
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (300,1,1,1,1,1)"));
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (1,2,3,4,5)"));

    EXPECT_EQ(ParseEpsvReply("229 Entering Extended Passive Mode (|||6446|)"), 6446);
    EXPECT_EQ(ParseEpsvReply("229 ok (!!!21000!)"), 21000);
    EXPECT_FALSE(ParseEpsvReply("229 ok (|||99999|)"));
    EXPECT_FALSE(ParseEpsvReply("229 ok (|||12|"));
    EXPECT_FALSE(ParseEpsvReply("229 ok"));
}

TEST(ReplyValues, WorkingFolderAndSizes) {
    EXPECT_EQ(ParsePwdReply("257 \"/home/a \"\"b\"\"\" is the current directory"), "/home/a \"b\"");
    EXPECT_EQ(ParsePwdReply("257 \"/\""), "/");
    EXPECT_FALSE(ParsePwdReply("257 \"/unterminated"));
    EXPECT_EQ(ParseSizeReply("213 5368709120"), 5368709120);
    EXPECT_FALSE(ParseSizeReply("213 12a"));
    EXPECT_FALSE(ParseSizeReply("213 99999999999999999999999"));
    EXPECT_EQ(ParseTransferSize("150 Opening BINARY mode data connection for a.bin (4096 bytes)."), 4096);
    EXPECT_FALSE(ParseTransferSize("150 File status okay."));
}

TEST(ReplyValues, ModificationTimesInUtc) {
    EXPECT_EQ(ParseMdtmReply("213 20240105134500"), 1704462300);
    EXPECT_EQ(ParseMdtmReply("213 20240105134500.123"), 1704462300);  // whole seconds
    EXPECT_EQ(ParseMdtmReply("213 19700101000000"), 0);
    EXPECT_FALSE(ParseMdtmReply("213 20241305134500"));  // month 13
    EXPECT_FALSE(ParseMdtmReply("213 2024010513450"));
    EXPECT_FALSE(ParseMdtmReply("213 20240105134500 UTC"));
    EXPECT_FALSE(ParseMdtmReply("550 not a plain file"));
}

TEST(ServerFeatures, FeatAnswers) {
    struct Case {
        Reply reply;
        std::set<std::string> names;
        bool mlsd;
    };
    const Case cases[] = {
        {{211, {"211-Features:", " MDTM", " MLST type*;size*;modify*;", " UTF8", " REST STREAM", "211 End"}},
         {"MDTM", "MLST", "UTF8", "REST"},
         true},
        {{211, {"211-Extensions supported:", "211-mlsd", "211-utf8", "211 END"}}, {"MLSD", "UTF8"}, true},
        {{211, {"211-Features:", " SIZE", "211 End"}}, {"SIZE"}, false},
        {{211, {"211 No features"}}, {}, false},
        {{500, {"500 FEAT not understood"}}, {}, false},
        {{502, {"502-MLST", " UTF8", "502 no"}}, {}, false},
    };
    for (const auto& c : cases) {
        ServerFeatures features = ParseFeatReply(c.reply);
        EXPECT_EQ(features.names, c.names) << c.reply.Text();
        EXPECT_EQ(features.Mlsd(), c.mlsd) << c.reply.Text();
    }
}

}  // namespace
}  // namespace klvr
