#include "web/web_settings.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(WebSettings, OffWithoutTheTableOnLoopbackByDefault) {
  // The text read; whether it enables the page, where it listens, its token.
  const std::tuple<const char*, bool, const char*, const char*> cases[] = {
      {"", false, "127.0.0.1:8080", ""},
      {"[calendar]\nopen = \"5:30 PM\"\n", false, "127.0.0.1:8080", ""},
      {"[web]\n", true, "127.0.0.1:8080", ""},
      {"[web]\nlisten = \"0.0.0.0:9000\"\ntoken = \"abc\"\n", true, "0.0.0.0:9000", "abc"},
      {"web = { token = \"t\" }\n", true, "127.0.0.1:8080", "t"},
  };
  for (const auto& [text, enabled, listen, token] : cases) {
    const auto s = web::ParseWebSettings(text, "settings.toml");
    ASSERT_TRUE(s.ok()) << text << ": " << s.message();
    EXPECT_EQ(s.value().enabled, enabled) << text;
    EXPECT_EQ(s.value().listen, listen) << text;
    EXPECT_EQ(s.value().token, token) << text;
  }
}

TEST(WebSettings, AMistakeNamesFileLineAndWhat) {
  const std::pair<const char*, const char*> cases[] = {
      {"# first\n[web]\nlisten = 8080\n", "settings.toml line 3: web.listen must be a text"},
      {"[web]\ntoken = true\n", "settings.toml line 2: web.token must be a text"},
      {"web = 1\n", "settings.toml line 1: web must be a table"},
      {"[web]\nlisten = \"x\n", "settings.toml line 2: "},
  };
  for (const auto& [text, message] : cases) {
    const auto s = web::ParseWebSettings(text, "settings.toml");
    ASSERT_FALSE(s.ok()) << text;
    EXPECT_EQ(s.message().rfind(message, 0), 0u) << s.message();
  }
}

TEST(WebSettings, EnablingKeepsEveryOtherLine) {
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {"no file yet", "", "[web]\nlisten = \"L\"\ntoken = \"T\"\n"},
      {"other tables and comments",
       "# the show's calendar\n[calendar]\nopen = \"17:30\" # evenings\n",
       "# the show's calendar\n[calendar]\nopen = \"17:30\" # evenings\n\n[web]\nlisten = "
       "\"L\"\ntoken = \"T\"\n"},
      {"an old [web] table between others",
       "[a]\nx = 1\n[web] # phone\nlisten = \"127.0.0.1:1\"\nextra = 2\ntoken = \"old\"\n[b]\ny = "
       "2\n",
       "[a]\nx = 1\n[web] # phone\nlisten = \"L\"\ntoken = \"T\"\nextra = 2\n[b]\ny = 2\n"},
      {"Windows line ends", "[a]\r\nx = 1\r\n",
       "[a]\r\nx = 1\r\n\r\n[web]\r\nlisten = \"L\"\r\ntoken = \"T\"\r\n"},
      {"a key named like ours in another table", "[a]\ntoken = \"keep\"\n",
       "[a]\ntoken = \"keep\"\n\n[web]\nlisten = \"L\"\ntoken = \"T\"\n"},
  };
  for (const auto& [name, before, after] : cases) {
    SCOPED_TRACE(name);
    const auto written = web::WithWebTable(before, "settings.toml", "L", "T");
    ASSERT_TRUE(written.ok()) << written.message();
    EXPECT_EQ(written.value(), after);
  }
}

TEST(WebSettings, AFileItCannotEditStaysAsItIs) {
  for (const char* text : {"[web\nbroken", "web.token = \"x\"\n", "web = { token = \"x\" }\n"}) {
    const auto written = web::WithWebTable(text, "settings.toml", "L", "T");
    EXPECT_FALSE(written.ok()) << text;
    EXPECT_NE(written.message().find("settings.toml"), std::string::npos) << written.message();
  }
}

}  // namespace
