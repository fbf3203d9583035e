// How much of the endpoint search each effort level spends, step by step. Each level's settings
// (SearchEffort.cpp) were measured on the bench corpus (bench/run) for what they add to the mean
// PSNR and what they cost; the default spends where the gain per unit of time was highest.
#pragma once

#include "ImageService/Dxt/DxtEncoder.h"

namespace ImageService::Dxt::detail {

struct SearchEffort {
    // How far each cut may move from its guess per round of the cluster search (16 covers every
    // cut of any block), and how far in the four-colour search of blocks of at least
    // wideFromColours distinct colours.
    int radius;
    int wideRadius;
    int wideFromColours;
    // The largest total move of the three cuts in that wider search (3 * wideRadius: any).
    int wideReach;
    // Four-colour palettes that leave one endpoint unused are tried when three evenly spaced levels
    // are predicted to fit within this factor of the error reached so far (0: never); with the
    // unused endpoint at the end that starts closer (1) or at both ends in turn (2).
    float oneEndUnusedGate;
    int unusedEndSides;
    // Fit two-colour blocks from their two colours alone instead of the full search.
    bool twoColourShortcut;
    // Try the block's mean colour as a solid block: near-flat blocks settle a step or two away from
    // it otherwise.
    bool meanColour;
    // Squared error (summed over the block) above which the three-colour palette is tried too.
    float threeColourAbove;
    // Rounds of quantised least squares plus single-channel moves.
    int refineRounds;
    // How far below and above its floor the exact per-channel least-squares search looks (0 or 1).
    int leastSquaresReach;
    // Moves of one channel's two endpoint values tried per round: 4 moves each endpoint alone, 8
    // also moves both together and apart.
    int channelMoves;
    // Passes of moves of one endpoint in several channels at once, and how many of those moves.
    int jointPasses;
    int jointMoves;
    // Passes of those joint moves on the block's winning candidate alone, where its squared error
    // (summed over the block) is above winnerJointAbove.
    int winnerJointPasses;
    float winnerJointAbove;
};

// fourColourOnly: for colour blocks that may not use the three-colour palette (DXT3's).
const SearchEffort& searchEffort(Effort effort, bool fourColourOnly);

}  // namespace ImageService::Dxt::detail
