// The HTTP transport: URLs split and resolved, answers read however HTTP lets a router frame them.
#include "harness.h"
#include "http/answer_reader.h"
#include "http/url.h"

#include <chrono>

using fakerouter::chunked;
using fakerouter::http10;
using upnp_http::AnswerReader;

TEST(Url, SplitsHostPortAndPathOfHttpOnly) {
    // "host port path", or empty when the URL is refused.
    const std::pair<const char*, const char*> cases[] = {
        {"http://192.168.1.1:5000/rootDesc.xml", "192.168.1.1 5000 /rootDesc.xml"},
        {"HTTP://10.0.0.1/desc.xml?a#b", "10.0.0.1 80 /desc.xml?a#b"},
        {"http://10.0.0.1:49152abc/x", "10.0.0.1 49152 /x"},
        {"http://10.0.0.1:70000/x", "10.0.0.1 4464 /x"}, // the low sixteen bits
        {"http://10.0.0.1/a:b", "10.0.0.1 80 /a:b"},     // a colon in the path is no port
        {"http://[fe80::1]:5000/ctl", "fe80::1 5000 /ctl"},
        {"http://[2001:db8::7]/ctl", "2001:db8::7 80 /ctl"},
        {"http://[fe80::1/x", ""},
        {"http://192.168.1.1:5000", ""},
        {"192.168.1.1:80/x", ""},
        {"ftp://10.0.0.1/x", ""},
        {"https://10.0.0.1/x", ""},
    };
    for (const auto& [url, parts] : cases) {
        std::string host, path;
        uint16_t port = 0;
        const bool ok = UpnpNat::parse_url(url, host, port, path);
        EXPECT_EQ(ok ? host + " " + std::to_string(port) + " " + path : "", parts) << url;
    }
    upnp_http::Url url;
    std::string why;
    EXPECT_FALSE(upnp_http::split_url("https://10.0.0.1/x", url, &why));
    EXPECT_EQ(why, "only http is spoken, not https");
    ASSERT_TRUE(upnp_http::split_url("http://[fe80::1]:5000/", url));
    EXPECT_EQ(url.authority(), "[fe80::1]:5000");
}

TEST(Url, ReferencesResolveAgainstTheirBase) {
    // The standard's own examples of section 5.4, on its base, then the forms routers write.
    const std::string rfc = "http://a/b/c/d;p?q";
    const std::tuple<std::string, const char*, const char*> cases[] = {
        {rfc, "g:h", "g:h"},
        {rfc, "g", "http://a/b/c/g"},
        {rfc, "./g", "http://a/b/c/g"},
        {rfc, "g/", "http://a/b/c/g/"},
        {rfc, "/g", "http://a/g"},
        {rfc, "//g", "http://g"},
        {rfc, "?y", "http://a/b/c/d;p?y"},
        {rfc, "g?y", "http://a/b/c/g?y"},
        {rfc, "#s", "http://a/b/c/d;p?q#s"},
        {rfc, "g#s", "http://a/b/c/g#s"},
        {rfc, "g?y#s", "http://a/b/c/g?y#s"},
        {rfc, ";x", "http://a/b/c/;x"},
        {rfc, "g;x?y#s", "http://a/b/c/g;x?y#s"},
        {rfc, "", "http://a/b/c/d;p?q"},
        {rfc, ".", "http://a/b/c/"},
        {rfc, "./", "http://a/b/c/"},
        {rfc, "..", "http://a/b/"},
        {rfc, "../g", "http://a/b/g"},
        {rfc, "../..", "http://a/"},
        {rfc, "../../g", "http://a/g"},
        {rfc, "../../../g", "http://a/g"},
        {rfc, "/./g", "http://a/g"},
        {rfc, "g.", "http://a/b/c/g."},
        {rfc, "./g/.", "http://a/b/c/g/"},
        {rfc, "g/../h", "http://a/b/c/h"},
        {"http://192.168.1.1:5000/desc/root.xml", "ctl/IPConn",
         "http://192.168.1.1:5000/desc/ctl/IPConn"},
        {"http://192.168.1.1:80/", "/upnp/control/WANIPConn1",
         "http://192.168.1.1:80/upnp/control/WANIPConn1"},
        {"http://192.168.1.1:5000", "ctl/IPConn", "http://192.168.1.1:5000/ctl/IPConn"},
        {"http://192.168.1.1:5000/upnp/", "../ctl//x", "http://192.168.1.1:5000/ctl//x"},
        {"http://192.168.1.1/d.xml", "Http://10.0.0.1:80/ctl", "Http://10.0.0.1:80/ctl"},
        {"http://[fe80::1]:5000/d.xml", "ctl", "http://[fe80::1]:5000/ctl"},
    };
    for (const auto& [base, reference, target] : cases)
        EXPECT_EQ(upnp_http::resolve(base, reference), target) << base << " + " << reference;
}

TEST(Framing, EveryFormGivesItsBodyInPiecesOfAnySize) {
    const std::string body = "<s:Envelope><v>203.0.113.7</v></s:Envelope>";
    const std::string length = std::to_string(body.size());
    // The answer, whether the close ends it, and its body; "!" when it is a bad answer.
    std::vector<std::tuple<std::string, bool, std::string>> cases = {
        {http(body) + "NEXT", false, body},
        {"HTTP/1.1 200 OK\r\ncontent-length:  " + length + " \r\n\r\n" + body, false, body},
        {"HTTP/1.1 100 Continue\r\n\r\n" + http(body), false, body},
        {"HTTP/1.1 200 OK\nContent-Length: " + length + "\n\n" + body, false, body},
        {http10(body), true, body},
        {"HTTP/1.1 204 No Content\r\n\r\n", false, ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n", false,
         "x"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 9\r\n\r\n"
         "1;a=\"b\"\r\nx\r\n0\r\n\r\n",
         false, "x"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nx\r\n0\r\n\r\n", false, "!"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n", false, "!"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1 x\r\n", false, "!"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000000000000000\r\n", false, "!"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nxy\r\n0\r\n\r\n", false, "!"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", true, "!"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12a\r\n\r\n", false, "!"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", false, "!"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n" + body, true, "!"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5000000\r\n\r\n", false, "!"}, // over the cap
        {"<html>200 OK</html>", true, "!"},
        {"HTTP/1.1 2x0 OK\r\n\r\n", true, "!"},
        {"HTTP/1.1 200 OK\r\nServer: x", true, "!"},
    };
    for (unsigned seed = 1; seed <= 30; ++seed)
        cases.emplace_back(chunked(body, seed), false, body);
    for (const auto& [answer, closes, expected] : cases) {
        for (const std::size_t piece : {std::size_t(1), std::size_t(7), answer.size()}) {
            AnswerReader reader(4u << 20);
            for (std::size_t at = 0; at < answer.size(); at += piece)
                reader.feed(answer.data() + at, std::min(piece, answer.size() - at));
            if (closes)
                reader.close();
            const bool bad = reader.state() == AnswerReader::State::bad;
            EXPECT_EQ(bad ? "!" : reader.body(), expected) << answer << " in pieces of " << piece;
            EXPECT_EQ(bad, !reader.error().empty());
            EXPECT_EQ(reader.state() == AnswerReader::State::complete, !bad) << answer;
        }
    }
}

TEST_F(Client, AnswersEndWhereTheirFramingSaysWhetherTheRouterClosesOrNot) {
    // Only the framing, the marker or the close may end an answer: a wait would take seconds.
    nat.timings.read_wait_ms = 3000;
    const std::string ip = "<NewExternalIPAddress>203.0.113.7</NewExternalIPAddress>";
    const std::string body =
        router.file("response.xml", {{"@ACTION@", "GetExternalIPAddress"}, {"@ARGS@", ip}});
    std::vector<fakerouter::Rule> forms = {
        {{}, http(body), 0, 0, SIZE_MAX, true},
        {{}, http10(body)},
        // Without framing and kept open: the end of the envelope ends it, even split.
        {{}, "HTTP/1.1 200 OK\r\n\r\n" + body, 5, 0, SIZE_MAX, true},
    };
    for (unsigned seed = 1; seed <= 8; ++seed)
        forms.push_back({{}, chunked(body, seed), 0, 0, SIZE_MAX, seed % 2 == 0});
    const auto start = std::chrono::steady_clock::now();
    for (const fakerouter::Rule& form : forms) {
        router.on_http(form);
        std::string address;
        EXPECT_TRUE(nat.get_external_ip(address)) << form.answer;
        EXPECT_EQ(address, "203.0.113.7");
    }
    // An add the router performed is done, with the response tag cut by a chunk boundary.
    on("AddPortMapping",
       chunked(router.file("response.xml", {{"@ACTION@", "AddPortMapping"}, {"@ARGS@", ""}}), 7));
    EXPECT_TRUE(nat.add_port_mapping("web", "192.168.1.20", 8080, 80, "tcp"));
    // A refusal with an empty body on a connection the router keeps: the verdict at once.
    router.on_http(
        {{}, "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n", 0, 0, SIZE_MAX, true});
    EXPECT_FALSE(nat.del_port_mapping(8080, "tcp"));
    EXPECT_EQ(nat.failure, Failure::refused);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // A broken framing is no answer to take, even where an envelope came whole before it.
    for (const std::string& broken :
         {http(body).substr(0, http(body).size() - 1), // closed one byte short
          chunked(body, 3).replace(chunked(body, 3).rfind("0\r\n"), 1, "z")}) {
        router.on_http({{}, broken});
        std::string address = "kept";
        EXPECT_FALSE(nat.get_external_ip(address));
        EXPECT_EQ(nat.failure, Failure::bad_answer);
        EXPECT_EQ(address, "kept");
    }
    // The cap holds for the body: one byte over it and the answer is dropped.
    for (const std::size_t size : {UpnpNat::kAnswerCap, UpnpNat::kAnswerCap + 1}) {
        on("B", http(std::string(size - 9, 'y') + "Envelope>"));
        std::string answer;
        ASSERT_TRUE(nat.soap_call("B", "", 10, answer));
        EXPECT_EQ(answer.size(),
                  size == UpnpNat::kAnswerCap ? http(std::string(size, 'y')).size() : 0u);
    }
}
