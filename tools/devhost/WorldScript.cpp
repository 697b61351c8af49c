#include "tools/devhost/WorldScript.h"

#include <algorithm>
#include <cstdio>

#include "common/Text.h"

namespace devhost {

namespace {

constexpr std::int32_t kFirstDay = 37;
constexpr std::size_t kFewest = 2;

std::u16string WithLoneSurrogate() {
  std::u16string name = u"Broken ";
  name.push_back(static_cast<char16_t>(0xD83D));  // half of a pair, as some clients send it
  name += u" Name";
  return name;
}

std::vector<simhost::SimPlayer> MakeRegulars() {
  auto player = [](std::u16string name, std::u16string character, std::u16string netId,
                   std::uint32_t dataId) {
    simhost::SimPlayer p;
    p.Name = std::move(name);
    p.CharacterName = std::move(character);
    p.NetId = std::move(netId);
    p.PlayerDataId = dataId;
    return p;
  };
  return {
      player(u"Ragnar", u"Ragnar the Tamer", u"0002b8f3c1a94e6d8f0a7d21c3e4b5a6", 412907331u),
      player(u"Zoë Ångström", u"Zoë", u"00021c9e7b3d4f2a9e8d7c6b5a493827", 2884150072u),
      player(u"🦖 Rex Rider 🦕", u"Dino Queen 👑", u"0002f00dcafe4b1d8e2a3c4d5e6f7081",
             4294967295u),
      player(u"Dave \"The Dodo\" O'Brien", u"C:\\Users\\Dave", u"0002aa11bb22cc33dd44ee55ff667788",
             17u),
      player(u"李小龍", u"小龍", u"00029988776655443322110099887766", 305419896u),
      player(u"Tab\there\nNewline\aBell", u"Ctrl\x1b[31mRed", u"00020123456789abcdef0123456789ab",
             0u),
      player(u"Светлана", u"Лана", u"00020a0b0c0d0e0f1011121314151617", 99u),
      player(WithLoneSurrogate(), u"", u"0002deadbeefdeadbeefdeadbeefdead", 123456u),
  };
}

}  // namespace

const std::vector<simhost::SimPlayer>& WorldScript::Regulars() {
  static const std::vector<simhost::SimPlayer> regulars = MakeRegulars();
  return regulars;
}

std::string Printable(const std::u16string& units) {
  const std::string text = vesperline::Utf16ToUtf8(units);
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

WorldScript::WorldScript(std::chrono::milliseconds eventEvery, std::chrono::milliseconds dayEvery,
                         unsigned seed)
    : eventEvery_(eventEvery),
      dayEvery_(dayEvery),
      nextEvent_(eventEvery),
      nextDay_(dayEvery),
      random_(seed) {}

void WorldScript::Start(bool everyone) {
  online_ = {0, 1, 2};
  if (everyone) {
    online_.clear();
    for (std::size_t i = 0; i < Regulars().size(); ++i) online_.push_back(i);
  }
  simhost::SimWorldDescription world;
  world.DayNumber = kFirstDay;
  for (const std::size_t i : online_) world.Players.push_back(Regulars()[i]);
  simhost::InstallWorld(world);
}

std::vector<std::string> WorldScript::Advance(std::chrono::milliseconds elapsed) {
  std::vector<std::string> happened;
  while (elapsed >= nextDay_) {
    nextDay_ += dayEvery_;
    std::int32_t day = 0;
    simhost::ChangeWorld([&](simhost::SimWorldDescription& world) { day = ++world.DayNumber; });
    happened.push_back("day " + std::to_string(day) + " dawns");
  }
  while (elapsed >= nextEvent_) {
    nextEvent_ += eventEvery_;
    const bool join =
        online_.size() <= kFewest || (online_.size() < Regulars().size() && random_() % 2 == 0);
    happened.push_back(join ? Join() : Leave());
  }
  return happened;
}

std::string WorldScript::Join() {
  std::vector<std::size_t> away;
  for (std::size_t i = 0; i < Regulars().size(); ++i) {
    if (std::find(online_.begin(), online_.end(), i) == online_.end()) away.push_back(i);
  }
  const std::size_t who = away[random_() % away.size()];
  online_.push_back(who);
  simhost::ChangeWorld([&](simhost::SimWorldDescription& world) {
    // Players who left at the last change have dropped out of the list by now.
    std::erase_if(world.Players, [](const simhost::SimPlayer& p) { return p.Gone; });
    world.Players.push_back(Regulars()[who]);
  });
  return "joined: " + Printable(Regulars()[who].Name);
}

std::string WorldScript::Leave() {
  const std::size_t at = random_() % online_.size();
  const std::size_t who = online_[at];
  online_.erase(online_.begin() + static_cast<std::ptrdiff_t>(at));
  simhost::ChangeWorld([&](simhost::SimWorldDescription& world) {
    std::erase_if(world.Players, [](const simhost::SimPlayer& p) { return p.Gone; });
    // The controller stays listed for a moment after its player left, as in the game.
    for (simhost::SimPlayer& p : world.Players) {
      if (p.NetId == Regulars()[who].NetId) p.Gone = true;
    }
  });
  return "left: " + Printable(Regulars()[who].Name);
}

}  // namespace devhost
