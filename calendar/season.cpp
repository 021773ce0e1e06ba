#include "calendar/season.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "calendar/local_time.h"

namespace calendar {
namespace {

// How far NextOpening looks.
constexpr int kDaysAhead = 367;

std::string DaysText(unsigned days) {
  std::string text;
  for (int day = 0; day < 7; ++day) {
    if ((days & (1u << day)) == 0) continue;
    if (!text.empty()) text += ' ';
    text += WeekdayName(day);
  }
  return text;
}

// "line 12", or "\"Christmas week\" line 12" for a rule with a name.
std::string RuleName(const Rule& rule) {
  const std::string line = "line " + std::to_string(rule.line);
  return rule.name.empty() ? line : "\"" + rule.name + "\" " + line;
}

std::string RuleText(const Rule& rule) {
  std::string text = RuleName(rule) + " (" + rule.DatesText();
  if (rule.NamesDays()) text += ", " + DaysText(rule.days);
  return text + ")";
}

// Why `winner` holds the date over `loser`, which also contains it.
const char* WhyOver(const Rule& winner, const Rule& loser) {
  if (winner.DateCount() < loser.DateCount()) return "fewer dates";
  if (winner.NamesDays() && !loser.NamesDays()) return "names days";
  return "later in the file";
}

bool Beats(const Rule& challenger, const Rule& holder) {
  if (challenger.DateCount() != holder.DateCount()) {
    return challenger.DateCount() < holder.DateCount();
  }
  if (challenger.NamesDays() != holder.NamesDays()) return challenger.NamesDays();
  return true;  // rules are tried in file order: the later one
}

std::string OffsetText(int seconds) {
  if (seconds == 0) return {};
  const int absolute = seconds < 0 ? -seconds : seconds;
  std::string text = seconds < 0 ? " - " : " + ";
  const int hours = absolute / 3600, minutes = absolute / 60 % 60;
  if (hours > 0) text += std::to_string(hours) + " h";
  if (hours > 0 && minutes > 0) text += ' ';
  if (minutes > 0 || hours == 0) text += std::to_string(minutes) + " min";
  return text;
}

// A show time worked out for one date.
struct Resolved {
  std::optional<std::int64_t> at;
  std::string sun;      // "sunset 4:57 PM", when the sun was used
  std::string fromSun;  // "sunset + 15 min"
  std::string problem;  // why there is no time
};

// The sunrise or sunset of the evening `date` names on the clock. Where the
// zone runs far from the sun the place's own solar day is not the clock's
// date: in Samoa or Kiribati the clock is a day ahead of the sun, and a
// Fairbanks summer sunset comes after the clock's midnight. The solar day
// whose noon is nearest the clock's noon of the date is the date's: its
// sunrise is that morning's, its sunset that evening's, one for each date
// with none skipped or taken twice where the clock crosses the sun's times.
SunTime SunOfDate(SunEvent which, const Date& date, const Location& where) {
  constexpr std::int64_t kDay = 86400;
  const std::int64_t solarNoon =
      LocalMoment(date, 12 * 3600) + static_cast<std::int64_t>(std::llround(where.longitude * 240));
  const std::int64_t solarDay = solarNoon / kDay - (solarNoon % kDay < 0 ? 1 : 0);
  return SunOn(which, FromDayNumber(solarDay), where);
}

Resolved Resolve(const NightTime& when, const Date& date, const std::optional<Location>& where) {
  Resolved resolved;
  if (when.kind == NightTime::Kind::Clock) {
    resolved.at = LocalMoment(date, when.seconds);
    return resolved;
  }
  const bool sunset = when.kind == NightTime::Kind::Sunset;
  const SunTime sun = SunOfDate(sunset ? SunEvent::Sunset : SunEvent::Sunrise, date, *where);
  if (!sun.at) {
    resolved.problem = sun.reason;
    return resolved;
  }
  // Almanacs give the minute; a whole minute also keeps the preview and the
  // show on the same second.
  const std::int64_t minute = (*sun.at + 30) / 60 * 60;
  const char* word = sunset ? "sunset" : "sunrise";
  resolved.sun = std::string(word) + " " + ClockText(ToLocal(minute).secondsOfDay);
  resolved.fromSun = word + OffsetText(when.seconds);
  resolved.at = minute + when.seconds;
  return resolved;
}

Night NoShow(const Date& date, int line, std::string reason) {
  Night night;
  night.date = date;
  night.ruleLine = line;
  night.reason = std::move(reason);
  return night;
}

// A night cut short where the next one opens before it would end.
Night CutByNext(Night night, const Night& next) {
  if (night.HasShow() && next.HasShow() && *next.start < *night.end) {
    night.end = next.start;
    night.cutByNext = true;
    night.reason += "; ends as the next night opens";
  }
  return night;
}

}  // namespace

Season::Season(CalendarFile file) : file_(std::move(file)) {}

Night Season::BaseNight(const Date& date) const {
  const Rule* winner = nullptr;
  std::vector<const Rule*> others;
  for (const Rule& rule : file_.rules) {
    if (!rule.Covers(date)) continue;
    if (winner == nullptr) {
      winner = &rule;
    } else if (Beats(rule, *winner)) {
      others.push_back(winner);
      winner = &rule;
    } else {
      others.push_back(&rule);
    }
  }
  if (winner == nullptr) return NoShow(date, 0, "no rule covers this date");

  std::string why = RuleText(*winner);
  for (std::size_t i = 0; i < others.size(); ++i) {
    why += (i == 0 ? " over " : ", ") + RuleName(*others[i]) + " (" + WhyOver(*winner, *others[i]) +
           ")";
  }
  if (winner->off) return NoShow(date, winner->line, "off: " + why);

  const Resolved start = Resolve(*winner->start, date, file_.location);
  if (!start.at)
    return NoShow(date, winner->line,
                  why + ": start " + winner->start->text + ": " + start.problem);
  // A night starts on its date, or for a start from the sun, in that date's
  // evening where it runs past midnight (Fairbanks in June).
  const std::int64_t latestStart = winner->start->kind == NightTime::Kind::Clock
                                       ? LocalMoment(AddDays(date, 1), 0)
                                       : LocalMoment(AddDays(date, 1), 12 * 3600);
  if (*start.at < LocalMoment(date, 0) || *start.at >= latestStart) {
    return NoShow(date, winner->line,
                  why + ": start " + winner->start->text + " falls on " +
                      IsoDate(ToLocal(*start.at).date) + ", not on this date");
  }
  Resolved end;
  if (winner->start->kind == NightTime::Kind::Clock &&
      winner->end->kind == NightTime::Kind::Clock) {
    // Earlier on the clock than the start: the night runs past midnight.
    const bool nextDay = winner->end->seconds < winner->start->seconds;
    end = Resolve(*winner->end, nextDay ? AddDays(date, 1) : date, file_.location);
  } else {
    // The first end after the start: a sunrise is the next morning's, even
    // where the sun did not rise on the morning of the date (the first
    // sunset after a summer without night, past midnight in Tromsø).
    end = Resolve(*winner->end, date, file_.location);
    if (!end.at || *end.at <= *start.at) {
      Resolved next = Resolve(*winner->end, AddDays(date, 1), file_.location);
      if (next.at || end.at) end = std::move(next);
    }
  }
  if (!end.at)
    return NoShow(date, winner->line, why + ": end " + winner->end->text + ": " + end.problem);
  if (*end.at <= *start.at) {
    // A time the clocks skip is the gap's end, so a start and an end both
    // inside one gap are the same moment: a night of no time is no show.
    const bool skipped = winner->start->kind == NightTime::Kind::Clock &&
                         ToLocal(*start.at).secondsOfDay != winner->start->seconds;
    return NoShow(date, winner->line,
                  why + ": start " + winner->start->text + " and end " + winner->end->text +
                      (skipped ? " both fall in the time the clocks skip on this date"
                               : " are the same moment") +
                      ", so the night has no time");
  }

  Night night;
  night.date = date;
  night.start = start.at;
  night.end = end.at;
  night.volume = winner->volume;
  night.ruleLine = winner->line;
  night.startFromSun = start.fromSun;
  night.reason = why;
  for (const std::string* sun : std::initializer_list<const std::string*>{&start.sun, &end.sun}) {
    if (!sun->empty()) night.reason += "; " + *sun;
  }
  return night;
}

Night Season::NightOf(const Date& date) const {
  return CutByNext(BaseNight(date), BaseNight(AddDays(date, 1)));
}

Season::Around Season::NightsAround(std::int64_t now) const {
  const Date today = ToLocal(now).date;
  Around around;
  // Each date's base night is worked out once: it is the night of one date
  // and what cuts short the night of the date before.
  Night base = BaseNight(AddDays(today, -1));
  for (int day = -1; day <= kDaysAhead && !around.next; ++day) {
    Night following = BaseNight(AddDays(today, day + 1));
    const Night night = CutByNext(std::move(base), following);
    base = std::move(following);
    if (!night.HasShow()) continue;
    if (*night.start <= now && now < *night.end) {
      around.inside = night;
    } else if (*night.start > now && *night.end > *night.start) {
      around.next = night;
    }
  }
  return around;
}

const Season::Around& Season::RememberedAround(std::int64_t now) const {
  if (now >= rememberedFrom_ && now < rememberedUntil_) return remembered_;
  remembered_ = NightsAround(now);
  rememberedFrom_ = now;
  rememberedUntil_ = now + 86400;
  if (remembered_.inside) rememberedUntil_ = *remembered_.inside->end;
  if (remembered_.next && *remembered_.next->start < rememberedUntil_) {
    rememberedUntil_ = *remembered_.next->start;
  }
  return remembered_;
}

std::optional<Night> Season::InsideNow(std::int64_t now) const {
  return RememberedAround(now).inside;
}

std::optional<Night> Season::NextOpening(std::int64_t now) const {
  return RememberedAround(now).next;
}

std::string PreviewLine(const Night& night) {
  char head[32];
  std::snprintf(head, sizeof head, "%s %s  ", WeekdayName(Weekday(night.date)),
                IsoDate(night.date).c_str());
  std::string line = head;
  if (!night.HasShow()) return line + "no show: " + night.reason;
  line += DayAndClockText(*night.start) + " to " + DayAndClockText(*night.end);
  line += "  volume " + std::to_string(night.volume) + "%  ";
  return line + night.reason;
}

namespace {

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace

std::string PreviewJson(const std::vector<Night>& nights) {
  std::string out = "[";
  for (std::size_t i = 0; i < nights.size(); ++i) {
    const Night& night = nights[i];
    out += i == 0 ? "\n" : ",\n";
    out += "  {\"date\": " + JsonText(IsoDate(night.date));
    out += ", \"start\": " + (night.HasShow() ? JsonText(Iso8601(*night.start)) : "null");
    out += ", \"end\": " + (night.HasShow() ? JsonText(Iso8601(*night.end)) : "null");
    out += ", \"volume\": " + (night.HasShow() ? std::to_string(night.volume) : "null");
    out += ", \"rule_line\": " + (night.ruleLine > 0 ? std::to_string(night.ruleLine) : "null");
    out += ", \"reason\": " + JsonText(night.reason) + "}";
  }
  return out + (nights.empty() ? "]\n" : "\n]\n");
}

std::string NextShowText(const Night& night) {
  if (!night.HasShow()) return {};
  std::string text = DayAndClockText(*night.start);
  if (!night.startFromSun.empty()) text += " (" + night.startFromSun + ")";
  return text;
}

}  // namespace calendar
