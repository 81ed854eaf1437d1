#pragma once
// The sticker collections that ship with quorvel: one archive per collection, its
// members in the order the strip shows them. Every code point is a single emoji with
// emoji presentation by default (Emoji 11 or older), so the font draws each one alone.

#include <QList>
#include <QString>

namespace stickers {

struct Sticker {
    const char *name;   // member name without ".bmp": lower case, readable
    char32_t codePoint;
};

struct Collection {
    const char *name;   // archive name without ".zip"
    QList<Sticker> stickers;
};

// Three full pages of the strip (eleven slots each) per collection.
inline const QList<Collection> &shippedCollections()
{
    static const QList<Collection> collections = {
        {"faces",
         {{"grinning", 0x1F600},    {"beaming", 0x1F601},      {"joy", 0x1F602},
          {"smiley", 0x1F603},      {"smile", 0x1F604},        {"sweat-smile", 0x1F605},
          {"laughing", 0x1F606},    {"halo", 0x1F607},         {"wink", 0x1F609},
          {"blush", 0x1F60A},       {"yum", 0x1F60B},          {"heart-eyes", 0x1F60D},
          {"sunglasses", 0x1F60E},  {"smirk", 0x1F60F},        {"neutral", 0x1F610},
          {"kiss", 0x1F618},        {"tongue", 0x1F61B},       {"upside-down", 0x1F643},
          {"rolling-eyes", 0x1F644}, {"thinking", 0x1F914},    {"hugging", 0x1F917},
          {"nerd", 0x1F913},        {"star-struck", 0x1F929},  {"partying", 0x1F973},
          {"sleeping", 0x1F634},    {"pensive", 0x1F614},      {"worried", 0x1F61F},
          {"cry", 0x1F622},         {"sob", 0x1F62D},          {"scream", 0x1F631},
          {"astonished", 0x1F632},  {"flushed", 0x1F633},      {"angry", 0x1F620}}},
        {"animals",
         {{"dog", 0x1F436},         {"cat", 0x1F431},          {"mouse", 0x1F42D},
          {"hamster", 0x1F439},     {"rabbit", 0x1F430},       {"fox", 0x1F98A},
          {"bear", 0x1F43B},        {"panda", 0x1F43C},        {"koala", 0x1F428},
          {"tiger", 0x1F42F},       {"lion", 0x1F981},         {"cow", 0x1F42E},
          {"pig", 0x1F437},         {"frog", 0x1F438},         {"monkey", 0x1F435},
          {"chicken", 0x1F414},     {"penguin", 0x1F427},      {"bird", 0x1F426},
          {"chick", 0x1F424},       {"owl", 0x1F989},          {"unicorn", 0x1F984},
          {"horse", 0x1F434},       {"bee", 0x1F41D},          {"butterfly", 0x1F98B},
          {"snail", 0x1F40C},       {"ladybird", 0x1F41E},     {"turtle", 0x1F422},
          {"snake", 0x1F40D},       {"octopus", 0x1F419},      {"fish", 0x1F41F},
          {"dolphin", 0x1F42C},     {"whale", 0x1F433},        {"elephant", 0x1F418}}},
        {"food",
         {{"apple", 0x1F34E},       {"pear", 0x1F350},         {"orange", 0x1F34A},
          {"lemon", 0x1F34B},       {"banana", 0x1F34C},       {"watermelon", 0x1F349},
          {"grapes", 0x1F347},      {"strawberry", 0x1F353},   {"cherries", 0x1F352},
          {"peach", 0x1F351},       {"pineapple", 0x1F34D},    {"avocado", 0x1F951},
          {"carrot", 0x1F955},      {"corn", 0x1F33D},         {"bread", 0x1F35E},
          {"cheese", 0x1F9C0},      {"egg", 0x1F95A},          {"pancakes", 0x1F95E},
          {"hamburger", 0x1F354},   {"fries", 0x1F35F},        {"pizza", 0x1F355},
          {"hot-dog", 0x1F32D},     {"taco", 0x1F32E},         {"spaghetti", 0x1F35D},
          {"sushi", 0x1F363},       {"ice-cream", 0x1F366},    {"doughnut", 0x1F369},
          {"cookie", 0x1F36A},      {"cake", 0x1F370},         {"birthday-cake", 0x1F382},
          {"chocolate", 0x1F36B},   {"coffee", 0x2615},        {"tea", 0x1F375}}},
        {"things",
         {{"sparkling-heart", 0x1F496}, {"star", 0x2B50},      {"sun", 0x1F31E},
          {"rainbow", 0x1F308},     {"umbrella", 0x2614},      {"snowman", 0x26C4},
          {"fire", 0x1F525},        {"balloon", 0x1F388},      {"gift", 0x1F381},
          {"party-popper", 0x1F389}, {"christmas-tree", 0x1F384}, {"trophy", 0x1F3C6},
          {"football", 0x26BD},     {"guitar", 0x1F3B8},       {"palette", 0x1F3A8},
          {"camera", 0x1F4F7},      {"phone", 0x1F4F1},        {"computer", 0x1F4BB},
          {"letter", 0x1F48C},      {"books", 0x1F4DA},        {"memo", 0x1F4DD},
          {"light-bulb", 0x1F4A1},  {"hourglass", 0x231B},     {"alarm-clock", 0x23F0},
          {"key", 0x1F511},         {"house", 0x1F3E0},        {"car", 0x1F697},
          {"bicycle", 0x1F6B2},     {"rocket", 0x1F680},       {"four-leaf-clover", 0x1F340},
          {"sunflower", 0x1F33B},   {"thumbs-up", 0x1F44D},    {"hundred", 0x1F4AF}}},
    };
    return collections;
}

} // namespace stickers
