#include "song_check.h"

#include <cstdio>
#include <string>

#include "synth_state.h"

namespace {

std::string describe(std::uint32_t instrument, std::uint32_t unit, const char* text) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "instrument %u, unit %u: %s", instrument, unit, text);
    return buffer;
}

// Values a unit holds on the stack while it computes, beyond the depth
// before it (at most four of its own, in Envelope and Oscillator).
std::uint32_t workingValues(std::uint8_t opcode) {
    switch (opcode) {
        case OP_ENVELOPE:
        case OP_OSCILLATOR:
            return 4;
        default:
            return 0;
    }
}


// The rules on one unit's own parameter bytes `p`; a Delay's lines are
// added to `instrumentLines`.
void checkUnitParameters(const SongData& song, std::uint32_t instrument, std::uint32_t unit, std::uint8_t opcode,
                         const std::uint8_t* p, std::uint32_t& instrumentLines, SongCheckReport& report) {
    const std::uint32_t count = unitParamCount(opcode);
    const std::uint8_t last = count ? p[count - 1] : 0;
    switch (opcode) {
        case OP_OSCILLATOR: {
            const std::uint8_t shapes = last & OSC_SHAPES;
            if (shapes == 0 || (shapes & (shapes - 1)) != 0)
                report.problems.push_back(describe(instrument, unit, "Oscillator needs exactly one shape bit"));
            break;
        }
        case OP_DELAY: {
            const std::uint32_t timeIndex = p[6];
            const std::uint32_t lineCount = p[7];
            if (lineCount == 0) report.problems.push_back(describe(instrument, unit, "Delay with lineCount 0"));
            if (timeIndex + lineCount > song.delayTimesSize) {
                report.problems.push_back(describe(instrument, unit, "Delay lines beyond the DelayTimeTable"));
            } else {
                for (std::uint32_t i = 0; i < lineCount; ++i)
                    if (song.delayTimes[timeIndex + i] == 0)
                        report.problems.push_back(describe(instrument, unit, "Delay length 0"));
            }
            instrumentLines += lineCount;
            break;
        }
        case OP_STACKOP:
            if (!isStackOperation(last))
                report.problems.push_back(describe(instrument, unit, "StackOp operation outside 1..8"));
            break;
        case OP_ACCUMULATE:
            if (last != 0 && last != 8)
                report.problems.push_back(describe(instrument, unit, "Accumulate source other than 0 or 8"));
            break;
        default: break;
    }
}

// Follows the stack's depth over one unit: it may not take more values than
// the stack holds, nor hold more than its capacity while it computes.
void followStack(std::uint32_t instrument, std::uint32_t unit, std::uint8_t opcode, const StackEffect& effect,
                 std::int32_t& depth, SongCheckReport& report) {
    if (depth < effect.pops) report.problems.push_back(describe(instrument, unit, "takes more values than the stack holds"));
    const std::uint32_t peak = static_cast<std::uint32_t>(depth) + workingValues(opcode);
    if (peak > report.deepestStack) report.deepestStack = peak;
    depth = depth - effect.pops + effect.pushes;
    if (depth < 0) depth = 0;
    if (static_cast<std::uint32_t>(depth) > report.deepestStack) report.deepestStack = static_cast<std::uint32_t>(depth);
    if (peak > STACK_CAPACITY || static_cast<std::uint32_t>(depth) > STACK_CAPACITY)
        report.problems.push_back(describe(instrument, unit, "needs more than the stack capacity of 8"));
}

}  // namespace

SongCheckReport checkSong(const SongData& song) {
    SongCheckReport report;
    std::uint32_t commandPos = 0;
    std::uint32_t parameterPos = 0;
    for (std::uint32_t instrument = 0; instrument <= TRACKS; ++instrument) {
        std::int32_t depth = 0;
        std::uint32_t unit = 0;
        std::uint32_t instrumentLines = 0;
        bool terminated = false;
        while (commandPos < song.commandsSize) {
            const std::uint8_t opcode = song.commands[commandPos++];
            if (opcode == OP_END) {
                terminated = true;
                break;
            }
            if (opcode >= OPCODE_COUNT) {
                report.problems.push_back(describe(instrument, unit, "opcode above 11"));
                ++unit;
                continue;
            }
            if (unit == 0 && instrument < TRACKS && opcode != OP_ENVELOPE)
                report.problems.push_back(describe(instrument, unit, "a track chain must start with an Envelope"));
            const std::uint32_t count = unitParamCount(opcode);
            if (parameterPos + count > song.parametersSize) {
                report.problems.push_back(describe(instrument, unit, "runs past the end of the ParameterStream"));
                parameterPos += count;
                ++unit;
                ++report.opcodes;
                continue;
            }
            const std::uint8_t* p = song.parameters + parameterPos;
            parameterPos += count;
            const std::uint8_t last = count ? p[count - 1] : 0;
            const StackEffect effect = unitStackEffect(opcode, last);
            checkUnitParameters(song, instrument, unit, opcode, p, instrumentLines, report);
            followStack(instrument, unit, opcode, effect, depth, report);
            ++unit;
            ++report.opcodes;
        }
        if (!terminated) {
            report.problems.push_back(describe(instrument, unit, "instrument missing (no terminating 0)"));
            break;
        }
        ++report.instruments;
        if (unit > MAX_UNITS) report.problems.push_back(describe(instrument, unit, "more than 32 units"));
        if (unit > report.longestChain) report.longestChain = unit;
        if (depth != 0) report.problems.push_back(describe(instrument, unit, "leaves values on the stack"));
        report.delayLines += instrument < TRACKS ? 2 * instrumentLines : instrumentLines;
    }
    if (commandPos != song.commandsSize)
        report.problems.push_back("the CommandStream holds bytes after the master chain");
    report.parameterBytes = parameterPos;
    if (parameterPos != song.parametersSize)
        report.problems.push_back("the units consume " + std::to_string(parameterPos) + " parameter bytes, the ParameterStream holds " +
                                  std::to_string(song.parametersSize));
    if (report.delayLines + 1 > DELAY_POOL_RECORDS)
        report.problems.push_back("the DelayLinePool (" + std::to_string(DELAY_POOL_RECORDS) + " records) is too small for " +
                                  std::to_string(report.delayLines) + " lines plus one");
    for (std::size_t i = 0; i < static_cast<std::size_t>(TRACKS) * PATTERN_LIST_LENGTH; ++i)
        if (16u * song.patternList[i] + 15u >= song.patternsSize) {
            report.problems.push_back("PatternList entry " + std::to_string(i) + " names a Pattern beyond the table");
            break;
        }
    return report;
}
