// The kit's MIDI note map: the General MIDI notes onto the layout's keys, and
// the velocity curve every note is played with.
#include "kit/midimap.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace rimbal;

namespace {

TEST(MidiMapTest, GeneralMidiNotesPlayTheMainKeysOfTheKitLayout) {
    const MidiMap map;
    struct Case { int note; std::uint16_t key; };
    const Case cases[] = {{35, ' '}, {36, ' '}, {37, 'S'},  {38, 'F'},  {40, 'F'}, {39, 'G'}, {42, 'A'}, {44, 'Z'},
                          {46, 'Q'}, {41, 'O'}, {43, 'O'},  {45, 'I'},  {47, 'I'}, {48, 'U'}, {50, 'U'}, {49, 'P'},
                          {57, 'P'}, {51, 'M'}, {59, 'M'},  {53, 0xBC}, {54, 'E'}, {56, 'N'}, {82, 'R'},
                          // not drums of the layout, or not notes at all
                          {0, 0},    {34, 0},   {52, 0},    {60, 0},    {127, 0},  {-1, 0},   {128, 0}};
    for (const Case& c : cases) EXPECT_EQ(map.KeyFor(c.note), c.key) << "note " << c.note;
}

TEST(MidiMapTest, VelocityCurve) {
    struct Case { int velocity; float factor; };
    for (const Case c : {Case{127, 1.0f}, Case{200, 1.0f}, Case{64, 0.253952f}, Case{32, 0.0634881f}, Case{1, 0.0000620f},
                         Case{0, 0.0f}, Case{-5, 0.0f}})
        EXPECT_NEAR(VelocityFactor(c.velocity), c.factor, 1e-6) << c.velocity;
    EXPECT_EQ(VelocityFactor(127), 1.0f) << "127 plays the key at exactly its own volume";
}

}  // namespace
