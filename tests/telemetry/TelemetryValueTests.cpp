// JSONValue, the session identifier, the records' coding and path shortening.
#include <limits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "simulated/SimulatedServices.h"
#include "telemetry/HomePath.h"
#include "telemetry/JSONValue.h"
#include "telemetry/PendingJournal.h"
#include "telemetry/SessionID.h"
#include "telemetry/TelemetryEvent.h"
#include "telemetry/TelemetryService.h"

namespace lumo {
namespace {

JSONValue decoded(std::string_view text) {
    auto value = parseJSONValue(text);
    EXPECT_TRUE(value.ok()) << text;
    return value ? *value : JSONValue();
}

// Equality needs the same case, so each row also checks which case decoding chose.
TEST(JSONValueTest, DecodingTriesNullBooleanIntegerDoubleStringArrayObjectInOrder) {
    EXPECT_NE(JSONValue(1), JSONValue(1.0));
    EXPECT_NE(JSONValue(0), JSONValue(false));
    const std::pair<const char*, JSONValue> rows[] = {
        {"9223372036854775807", std::int64_t{9223372036854775807}},
        {"18446744073709551615", 18446744073709551615.0},  // past the signed 64-bit range: a double
        {"1e3", 1000.0},
        {R"([1, 1.5, "a", null, [false]])", JSONArray{1, 1.5, "a", nullptr, JSONArray{false}}},
        {R"({"k": {"n": "21"}})", JSONObject{{"k", JSONObject{{"n", "21"}}}}},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(decoded(text), expected) << text;
    EXPECT_EQ(decodeJSONValue(nlohmann::json::binary({1, 2})).error().description, "Unknown JSONValue");
    EXPECT_FALSE(parseJSONValue("{not json").ok());
}

TEST(JSONValueTest, EveryCaseSurvivesEncodingAndDecodingByEitherEncoder) {
    // Decoded as the previous test shows: whole numbers are integers, the rest doubles.
    const JSONValue value = decoded(R"({"s": "Grüße \"quoted\"\\\n\t\u0001\u001f\u007f", "i": -9007199254740993,
        "min": -9223372036854775808, "d": 0.1, "whole_double": 2.0, "negative_zero": -0.0, "huge": 1e300,
        "tiny": 5e-324, "b": false, "a": [[], {}, true], "n": null})");
    ASSERT_EQ(std::get<JSONObject>(value.value).at("whole_double"), JSONValue(2.0));
    const auto text = encodeJSON(value);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(decoded(*text), value);
    std::string direct;
    ASSERT_TRUE(appendJSON(direct, value));
    EXPECT_EQ(decoded(direct), value) << direct;
    EXPECT_EQ(nlohmann::json::parse(direct), nlohmann::json::parse(*text));
}

// Values without a JSON form do not encode, by either encoder; invalid UTF-8
// is replaced in every key and string at any depth (which bytes, the
// platform's file system tests show).
TEST(JSONValueTest, ValuesWithoutAJSONFormDoNotEncodeAndInvalidUTF8IsReplaced) {
    for (const JSONValue& value : {JSONValue(JSONArray{std::numeric_limits<double>::infinity()}), JSONValue("bad \xC3"),
                                   JSONValue(JSONObject{{"\xFF", 1}})}) {
        EXPECT_FALSE(encodeJSON(value).ok());
        std::string direct;
        EXPECT_FALSE(appendJSON(direct, value));
    }
    EXPECT_EQ(withValidUTF8(JSONObject{{"k\xFF", JSONArray{"v\xFE", "caf\xC3\xA9"}}}),
              JSONValue(JSONObject{{"k\xEF\xBF\xBD", JSONArray{"v\xEF\xBF\xBD", "caf\xC3\xA9"}}}));
}

TEST(HomePathTest, EveryUserNameIsReplaced) {
    const std::pair<const char*, const char*> rows[] = {
        {"/Users/ada/.sdkman/bin:/Users/bob smith/bin:/usr/bin", "/Users/~/.sdkman/bin:/Users/~/bin:/usr/bin"},
        {"/Users/a/Users/b/x", "/Users/~/Users/~/x"},
        {"/Users/ada", "/Users/~"},  // the home folder itself, as error descriptions name it
        {"\"/Users/ada\", (/Users/bob)\n", "\"/Users/~\", (/Users/~)\n"},
        {"/Users//x", "/Users//x"},
        {"/Library/Java/Home", "/Library/Java/Home"},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(shortenHomePaths(text), expected) << text;
}

TEST(SessionIDTest, CreatedOnceStoredUpperCaseAndReplacedWhenDamaged) {
    InMemoryKeyValueStore store;
    const SessionID session(store, "example.lumo");
    const UUID first = session.value();
    EXPECT_EQ(store.string("example.lumo.session_id"), first.uuidString());
    EXPECT_EQ(session.value(), first);

    store.set(PreferenceValue(std::string("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")), session.key());
    EXPECT_EQ(session.value().uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");  // either case is kept

    for (const PreferenceValue& damaged :
         {PreferenceValue(std::string("not-a-uuid")), PreferenceValue(std::int64_t{7})}) {
        store.set(damaged, session.key());
        const UUID replaced = session.value();
        EXPECT_NE(replaced, first);
        EXPECT_EQ(store.string(session.key()), replaced.uuidString());
    }
}

TEST(TelemetryEventTest, TimestampsAreUTCWithMillisecondsAndZAndParseBack) {
    using namespace std::chrono;
    const auto time = system_clock::time_point(milliseconds(1767605400125));
    EXPECT_EQ(iso8601Milliseconds(time), "2026-01-05T09:30:00.125Z");
    EXPECT_EQ(parseClientTimestamp("2026-01-05T09:30:00.125Z"), time);
    EXPECT_EQ(iso8601Milliseconds(system_clock::time_point(microseconds(999))), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(iso8601Milliseconds(system_clock::time_point(milliseconds(-1))), "1969-12-31T23:59:59.999Z");
    for (const char* bad : {"2026-01-05T09:30:00Z", "2026-02-30T09:30:00.125Z", "202x-01-05T09:30:00.125Z"}) {
        EXPECT_FALSE(parseClientTimestamp(bad).has_value()) << bad;
    }
}

// The previous version's pending file, as it lies on disk.
TEST(TelemetryEventTest, PendingFileRecordsHaveTheirExactKeysAndBadOnesAreSkipped) {
    const TelemetryEvent event{*UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "2026-01-05T09:30:00.125Z",
                               "1.0 (42)", "remediation_failed",
                               JSONObject{{"exit_code", 1}, {"reason", "boom"}, {"ratio", 0.5}}};
    const auto pending = encodePendingEvents({event, event});
    ASSERT_TRUE(pending.ok());
    EXPECT_EQ(nlohmann::json::parse(*pending)[0], nlohmann::json::parse(R"json({
        "sessionID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "clientTimestamp": "2026-01-05T09:30:00.125Z",
        "appVersion": "1.0 (42)", "eventName": "remediation_failed",
        "eventData": {"exit_code": 1, "reason": "boom", "ratio": 0.5}})json"));

    // A damaged file loses only the records that do not decode.
    auto records = nlohmann::json::parse(*pending);
    records.insert(records.begin() + 1, {nlohmann::json::object(), records[0], records[0]});
    records[2]["sessionID"] = "nope";
    records[3]["eventData"] = nlohmann::json::array();
    const auto mixed = decodePendingEvents(records.dump());
    ASSERT_TRUE(mixed.ok());
    EXPECT_EQ(mixed->events, (std::vector<TelemetryEvent>{event, event}));
    EXPECT_EQ(mixed->unreadable, 3u);
    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    for (const std::string& text : {std::string("{}"), std::string("not json"), deep}) {
        EXPECT_FALSE(decodePendingEvents(text).ok()) << text.substr(0, 20);
    }
}

TelemetryEvent sampleEvent(const std::string& name) {
    return TelemetryEvent{*UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "2026-01-05T09:30:00.125Z", "1.0 (1)",
                          name, JSONObject{{"n", 1}}};
}

std::string eventLine(const std::string& name) { return journal::eventLine(sampleEvent(name)).value() + "\n"; }

std::vector<std::string> names(const PendingState& state) {
    std::vector<std::string> out;
    for (const auto& event : state.events) out.push_back(event.eventName);
    return out;
}

TEST(PendingJournalTest, ReplayingTheLinesGivesTheQueueItsHeadAttemptsAndTheUnreportedDrops) {
    DropCounts reported;
    reported[DropCause::queueFull] = 1;
    const std::string text =
        eventLine("a") + eventLine("b") + journal::failedAttemptLine() + "\n" + journal::failedAttemptLine() + "\n" +
        journal::deliveredLine(1) + "\n" + journal::failedAttemptLine() + "\n" + eventLine("c") + eventLine("d") +
        journal::droppedLine(1, DropCause::tooManyAttempts) + "\n" + journal::droppedLine(1, DropCause::queueFull) +
        "\n" + journal::reportedLine(reported) + "\n" + journal::failedAttemptLine() + "\n";
    const auto replayed = journal::replay(text);
    EXPECT_EQ(replayed.unreadable, 0u);
    EXPECT_EQ(names(replayed.state), std::vector<std::string>{"d"});
    EXPECT_EQ(replayed.state.headAttempts, 1);  // b's attempts went with b
    EXPECT_EQ(replayed.state.dropped[DropCause::tooManyAttempts], 1);
    EXPECT_EQ(replayed.state.dropped[DropCause::queueFull], 0);

    // A rewrite says the same in fewer lines.
    const auto rewritten = journal::rewrittenText(replayed.state);
    ASSERT_TRUE(rewritten.ok());
    const auto again = journal::replay(*rewritten);
    EXPECT_EQ(names(again.state), names(replayed.state));
    EXPECT_EQ(again.state.headAttempts, 1);
    EXPECT_EQ(again.state.dropped, replayed.state.dropped);
    EXPECT_EQ(again.lines, 2u);
}

TEST(PendingJournalTest, DamagedLinesAreSkippedAndTheRestKept) {
    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    const std::pair<std::string, std::size_t> rows[] = {
        {eventLine("a") + eventLine("b").substr(0, 30), 1},  // torn at the end
        {eventLine("a") + deep + "\n" + eventLine("b"), 1},
        {eventLine("a") + "{\"delivered\": -1}\n{\"dropped\": 1, \"cause\": \"boredom\"}\n[]\n" + eventLine("b"), 3},
        {eventLine("a") + std::string("\0\0\0", 3) + "\n\n" + eventLine("b"), 1},
    };
    for (const auto& [text, unreadable] : rows) {
        const auto replayed = journal::replay(text);
        EXPECT_EQ(replayed.unreadable, unreadable) << text.substr(0, 80);
        EXPECT_EQ(names(replayed.state).front(), "a") << text.substr(0, 80);
    }
    // More removed than held (lines lost before): the queue empties, no more.
    EXPECT_TRUE(journal::replay(eventLine("a") + journal::deliveredLine(5) + "\n").state.events.empty());
}

TEST(DeliveryTest, EachAnswerHasItsVerdict) {
    using V = DeliveryVerdict;
    const std::pair<int, V> statuses[] = {{204, V::delivered},  {308, V::keep}, {400, V::rejected},
                                          {422, V::rejected},   {429, V::keep}, {503, V::maybeTheBatch},
                                          {0, V::maybeTheBatch}};
    for (const auto& [status, verdict] : statuses) {
        HTTPDataResult answer;
        answer.response.statusCode = status;
        EXPECT_EQ(classifyDelivery(answer).verdict, verdict) << "status " << status;
    }
    const std::pair<int, V> failures[] = {{url_error::kNetworkConnectionLost, V::maybeTheBatch},
                                          {url_error::kCannotFindHost, V::keep},
                                          {url_error::kCancelled, V::cancelled}};
    for (const auto& [code, verdict] : failures) {
        EXPECT_EQ(classifyDelivery(Error{kURLErrorDomain, code, "x"}).verdict, verdict) << "URL error " << code;
    }
    EXPECT_EQ(classifyDelivery(Error{"Other", 1, "x"}).verdict, V::keep);
    HTTPDataResult redirect;
    redirect.response.statusCode = 302;
    redirect.response.headers = {{"location", "/moved\r\nX: y"}};
    EXPECT_EQ(classifyDelivery(redirect).location, "/moved??X: y");
}

}  // namespace
}  // namespace lumo
