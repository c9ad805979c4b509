// JSONValue, the session identifier, the records' coding and path shortening.
#include <cmath>
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

TEST(JSONValueTest, EqualityNeedsTheSameCaseAndPayload) {
    EXPECT_EQ(JSONValue(1), JSONValue(std::int64_t{1}));
    EXPECT_NE(JSONValue(1), JSONValue(1.0));  // int and double are different cases
    EXPECT_NE(JSONValue(0), JSONValue(false));
    EXPECT_NE(JSONValue(nullptr), JSONValue(""));
    EXPECT_EQ(JSONValue(0.5), JSONValue(0.5));
    EXPECT_EQ(JSONValue(JSONObject{{"a", JSONArray{1, "x"}}}), JSONValue(JSONObject{{"a", JSONArray{1, "x"}}}));
    EXPECT_NE(JSONValue(JSONObject{{"a", 1}}), JSONValue(JSONObject{{"b", 1}}));
}

TEST(JSONValueTest, DecodingTriesNullBooleanIntegerDoubleStringArrayObjectInOrder) {
    EXPECT_EQ(decoded("null"), JSONValue(nullptr));
    EXPECT_EQ(decoded("true"), JSONValue(true));
    EXPECT_EQ(decoded("-42"), JSONValue(-42));
    EXPECT_EQ(decoded("9223372036854775807"), JSONValue(std::int64_t{9223372036854775807}));
    // Past the signed 64-bit range a whole number can only be a double.
    EXPECT_EQ(decoded("18446744073709551615"), JSONValue(18446744073709551615.0));
    EXPECT_EQ(decoded("2.5"), JSONValue(2.5));
    EXPECT_EQ(decoded("1e3"), JSONValue(1000.0));
    EXPECT_EQ(decoded("\"21\""), JSONValue("21"));
    EXPECT_EQ(decoded(R"([1, 1.5, "a", null, [false]])"), JSONValue(JSONArray{1, 1.5, "a", nullptr, JSONArray{false}}));
    EXPECT_EQ(decoded(R"({"k": {"n": 0}})"), JSONValue(JSONObject{{"k", JSONObject{{"n", 0}}}}));

    const auto binary = decodeJSONValue(nlohmann::json::binary({1, 2}));
    ASSERT_FALSE(binary.ok());
    EXPECT_EQ(binary.error().description, "Unknown JSONValue");
    EXPECT_FALSE(parseJSONValue("{not json").ok());
}

TEST(JSONValueTest, EveryCaseSurvivesEncodingAndDecodingByEitherEncoder) {
    const JSONValue value(JSONObject{{"s", "Grüße \"quoted\"\\\n\t\x01\x1f\x7f"},
                                     {"i", std::int64_t{-9007199254740993}},
                                     {"min", std::numeric_limits<std::int64_t>::min()},
                                     {"d", 0.1},
                                     {"whole_double", 2.0},
                                     {"negative_zero", -0.0},
                                     {"huge", 1e300},
                                     {"tiny", 5e-324},
                                     {"b", false},
                                     {"a", JSONArray{JSONArray{}, JSONObject{}, true}},
                                     {"n", nullptr}});
    const auto text = encodeJSON(value);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(decoded(*text), value);
    std::string direct;
    ASSERT_TRUE(appendJSON(direct, value));
    EXPECT_EQ(decoded(direct), value) << direct;
    EXPECT_EQ(nlohmann::json::parse(direct), nlohmann::json::parse(*text));
}

TEST(JSONValueTest, ValuesWithoutAJSONFormDoNotEncode) {
    for (const JSONValue& value : {JSONValue(std::numeric_limits<double>::quiet_NaN()),
                                   JSONValue(JSONArray{std::numeric_limits<double>::infinity()}),
                                   JSONValue("bad \xC3"), JSONValue(JSONObject{{"\xFF", 1}})}) {
        EXPECT_FALSE(encodeJSON(value).ok());
        std::string direct;
        EXPECT_FALSE(appendJSON(direct, value));
    }
}

TEST(JSONValueTest, InvalidUTF8IsReplacedAndValidTextKept) {
    EXPECT_EQ(validUTF8("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(validUTF8("a\xFF"
                        "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(validUTF8("\xC3"), "\xEF\xBF\xBD");                                  // cut short
    EXPECT_EQ(validUTF8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // overlong
    EXPECT_EQ(validUTF8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate

    const auto cleaned = withValidUTF8(JSONObject{{"k\xFF", JSONArray{"v\xFE"}}});
    EXPECT_TRUE(encodeJSON(cleaned).ok());
    EXPECT_EQ(cleaned, JSONValue(JSONObject{{"k\xEF\xBF\xBD", JSONArray{"v\xEF\xBF\xBD"}}}));
}

TEST(HomePathTest, EveryUserNameIsReplaced) {
    const std::pair<const char*, const char*> rows[] = {
        {"/Users/ada/Library/Java/JavaVirtualMachines/jdk-21", "/Users/~/Library/Java/JavaVirtualMachines/jdk-21"},
        {"/Users/ada/.sdkman/bin:/Users/bob smith/bin:/usr/bin", "/Users/~/.sdkman/bin:/Users/~/bin:/usr/bin"},
        {"/Users/a/Users/b/x", "/Users/~/Users/~/x"},
        {"/Users/~/x", "/Users/~/x"},
        // The home folder itself, as error descriptions name it.
        {"/Users/ada", "/Users/~"},
        {"mkdir /Users/ada: Permission denied", "mkdir /Users/~: Permission denied"},
        {"\"/Users/ada\", (/Users/bob)", "\"/Users/~\", (/Users/~)"},
        {"cannot read /Users/ada\nnext line", "cannot read /Users/~\nnext line"},
        {"/Users//x", "/Users//x"},
        {"/Library/Java/Home", "/Library/Java/Home"},
        {"", ""},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(shortenHomePaths(text), expected) << text;
}

TEST(SessionIDTest, CreatedOnceStoredUpperCaseAndReplacedWhenDamaged) {
    InMemoryKeyValueStore store;
    const SessionID session(store, "example.lumo");
    const UUID first = session.value();
    const auto stored = store.string("example.lumo.session_id");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored, first.uuidString());
    EXPECT_EQ(session.value(), first);

    store.set(PreferenceValue(std::string("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")), session.key());
    EXPECT_EQ(session.value().uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");  // either case is kept

    for (const PreferenceValue& damaged :
         {PreferenceValue(std::string("not-a-uuid")), PreferenceValue(std::string("E621E1F8C36C495A93FC0C247A3E6E5F")),
          PreferenceValue(std::string("{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}")), PreferenceValue(std::int64_t{7})}) {
        store.set(damaged, session.key());
        const UUID replaced = session.value();
        EXPECT_NE(replaced, first);
        EXPECT_EQ(store.string(session.key()), replaced.uuidString());
    }
}

TEST(SessionIDTest, RandomUUIDsAreVersion4AndDistinct) {
    const UUID a = UUID::random();
    const UUID b = UUID::random();
    EXPECT_NE(a, b);
    const std::string text = a.lowercaseString();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos);
    EXPECT_EQ(UUID::parse(text), a);
}

TEST(TelemetryEventTest, TimestampsAreUTCWithMillisecondsAndZAndParseBack) {
    using namespace std::chrono;
    const auto time = system_clock::time_point(milliseconds(1767605400125));
    EXPECT_EQ(iso8601Milliseconds(time), "2026-01-05T09:30:00.125Z");
    EXPECT_EQ(parseClientTimestamp("2026-01-05T09:30:00.125Z"), time);
    EXPECT_EQ(iso8601Milliseconds(system_clock::time_point(microseconds(999))), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(iso8601Milliseconds(system_clock::time_point(milliseconds(-1))), "1969-12-31T23:59:59.999Z");
    for (const char* bad : {"", "2026-01-05T09:30:00Z", "2026-02-30T09:30:00.125Z", "2026-01-05T25:30:00.125Z",
                            "2026-01-05 09:30:00.125Z", "202x-01-05T09:30:00.125Z"}) {
        EXPECT_FALSE(parseClientTimestamp(bad).has_value()) << bad;
    }
}

TEST(TelemetryEventTest, PendingFileAndWireRecordsHaveTheirExactKeys) {
    const TelemetryEvent event{*UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "2026-01-05T09:30:00.125Z",
                               "1.0 (42)", "remediation_failed",
                               JSONObject{{"exit_code", 1}, {"reason", "boom"}, {"ratio", 0.5}}};

    const auto pending = encodePendingEvents({event, event});
    ASSERT_TRUE(pending.ok());
    const auto pendingJSON = nlohmann::json::parse(*pending);
    const auto expectedRecord = nlohmann::json::parse(R"json({"sessionID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F",
        "clientTimestamp": "2026-01-05T09:30:00.125Z", "appVersion": "1.0 (42)", "eventName": "remediation_failed",
        "eventData": {"exit_code": 1, "reason": "boom", "ratio": 0.5}})json");
    EXPECT_EQ(pendingJSON[0], expectedRecord);
    const auto back = decodePendingEvents(*pending);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->events, (std::vector<TelemetryEvent>{event, event}));

    const auto wire = encodeWireRecord(event, "example.lumo.java");
    ASSERT_TRUE(wire.ok());
    const auto expectedWire = nlohmann::json::parse(R"json({
        "session_id": "e621e1f8-c36c-495a-93fc-0c247a3e6e5f", "client_timestamp": "2026-01-05T09:30:00.125Z",
        "app_version": "1.0 (42)", "app_id": "example.lumo.java", "event_name": "remediation_failed",
        "event_data": {"exit_code": 1, "reason": "boom", "ratio": 0.5}})json");
    EXPECT_EQ(nlohmann::json::parse(*wire), expectedWire);
}

TEST(TelemetryEventTest, APendingFileLosesOnlyTheRecordsThatDoNotDecode) {
    const char* good = R"({"sessionID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "clientTimestamp": "t",
        "appVersion": "v", "eventName": "e", "eventData": {}})";
    const char* badSession =
        R"({"sessionID": "nope", "clientTimestamp": "t", "appVersion": "v", "eventName": "e", "eventData": {}})";
    const char* badData = R"({"sessionID": "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "clientTimestamp": "t",
        "appVersion": "v", "eventName": "e", "eventData": []})";
    const auto mixed = decodePendingEvents("[" + std::string(good) + "," + badSession + ",{}," + badData + "," + good + "]");
    ASSERT_TRUE(mixed.ok());
    EXPECT_EQ(mixed->events.size(), 2u);
    EXPECT_EQ(mixed->unreadable, 3u);

    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    for (const std::string& text : {std::string(), std::string("{}"), std::string("not json"), deep}) {
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
    const std::string text = eventLine("a") + eventLine("b") + journal::failedAttemptLine() + "\n" +
                             journal::failedAttemptLine() + "\n" + journal::deliveredLine(1) + "\n" +
                             journal::failedAttemptLine() + "\n" + eventLine("c") + eventLine("d") +
                             journal::droppedLine(1, DropCause::tooManyAttempts) + "\n" +
                             journal::droppedLine(1, DropCause::queueFull) + "\n" +
                             journal::reportedLine(reported) + "\n" + journal::failedAttemptLine() + "\n";
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
        {eventLine("a") + "{\"sessionID\": \"E6" + "\n" + eventLine("b"), 1},  // a torn event line
        {eventLine("a") + eventLine("b").substr(0, 30), 1},                    // torn at the end
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
    const auto response = [](int status, HTTPHeaders headers = {}) {
        HTTPDataResult result;
        result.response.statusCode = status;
        result.response.headers = std::move(headers);
        return Result<HTTPDataResult>(std::move(result));
    };
    const auto failure = [](int code) { return Result<HTTPDataResult>(Error{kURLErrorDomain, code, "x"}); };
    using V = DeliveryVerdict;
    const std::pair<Result<HTTPDataResult>, V> rows[] = {
        {response(200), V::delivered},
        {response(201), V::delivered},
        {response(204), V::delivered},
        {response(400), V::rejected},
        {response(422), V::rejected},
        {response(301, {{"Location", "https://elsewhere.example/x"}}), V::keep},
        {response(308), V::keep},
        {response(401), V::keep},
        {response(403), V::keep},
        {response(404), V::keep},
        {response(408), V::keep},
        {response(413), V::keep},
        {response(429), V::keep},
        {response(500), V::maybeTheBatch},
        {response(503), V::maybeTheBatch},
        {response(0), V::maybeTheBatch},
        {failure(url_error::kTimedOut), V::maybeTheBatch},
        {failure(url_error::kNetworkConnectionLost), V::maybeTheBatch},
        {failure(url_error::kBadServerResponse), V::maybeTheBatch},
        {failure(url_error::kCannotConnectToHost), V::keep},
        {failure(url_error::kNotConnectedToInternet), V::keep},
        {failure(url_error::kCannotFindHost), V::keep},
        {failure(url_error::kCancelled), V::cancelled},
        {Result<HTTPDataResult>(Error{"Other", 1, "x"}), V::keep},
    };
    for (const auto& [result, verdict] : rows) {
        EXPECT_EQ(classifyDelivery(result).verdict, verdict)
            << (result ? "status " + std::to_string(result->response.statusCode) : result.error().domain + " " +
                                                                                        std::to_string(result.error().code));
    }
    EXPECT_EQ(classifyDelivery(response(302, {{"location", "/moved\r\nX: y"}})).location, "/moved??X: y");
}

}  // namespace
}  // namespace lumo

namespace lumo {
namespace {

TEST(TelemetryServiceConfigurationTest, AppVersionStandsInForMissingParts) {
    EXPECT_EQ(TelemetryService::appVersionString("1.4", "87"), "1.4 (87)");
    EXPECT_EQ(TelemetryService::appVersionString("", ""), "0.0 (0)");
}

}  // namespace
}  // namespace lumo
