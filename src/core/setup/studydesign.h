#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// A study's design, Study.txt in the data folder: how persons are given their conditions and
// languages. "Key = Value" lines; an apostrophe or "#" starts a comment line. Without the file
// every person gets the condition with the fewest completed runs and plays one run, in the
// language of the command line or the setup, as ever. The keys:
//   Assignment = rotation | random   the rotation (default), or a seeded random draw
//   AssignmentSeed = N               the random draws' seed (0 to 2^63-1); without it each
//                                    person's draw has a fresh seed, recorded with the person
//   Blocks = NAME, NAME, ...         each person plays these conditions one after another,
//                                    each as a run of its own (a within-person design)
//   BlockOrder = all | latin | fixed every order of the blocks (default), the rows of a
//                                    balanced Latin square, or the order written
//   BasePaymentPerBlock = 0 | 1      the base payment once per person (default), or per block
//   Languages = en, de               the languages a person chooses from at the login
//   ComprehensionAttempts = N        the Submits a person has to answer Comprehension.txt
//                                    rightly (1 to 20, default 3)
//   ComprehensionFailure = end | play after the last wrong attempt the sitting ends politely
//                                    (default), or the person plays on, the failure recorded
// The design is for persons: a model's run plays one condition, given by the rotation.
struct StudyDesign {
    enum class Assignment { Rotation, Random };
    enum class BlockOrder { All, Latin, Fixed };
    struct Problem {
        int line = 0; // counted from 1; 0 for the whole file
        QString text;
    };

    QString path;
    bool present = false;
    Assignment assignment = Assignment::Rotation;
    std::optional<std::uint64_t> assignmentSeed;
    QStringList blocks;
    BlockOrder blockOrder = BlockOrder::All;
    bool basePaymentPerBlock = false;
    QStringList languages;
    int comprehensionAttempts = 3;
    bool playAfterFailedComprehension = false;
    QList<Problem> problems;

    bool usable() const { return problems.isEmpty(); }
    bool withinPerson() const { return !blocks.isEmpty(); }
};

// Reads the data folder's Study.txt against its conditions; every line that cannot be read,
// and every condition or language the program does not have, is a problem.
StudyDesign ReadStudyDesign(const QString &dataDir, const QStringList &conditions);
// The check's text: what the design does, then its problems. Empty when there is no file.
QString StudyDesignCheckText(const StudyDesign &design);

// The orders a design's persons play its blocks in, each a list of conditions: every
// permutation in lexicographic order of the written order's positions, the rows of a balanced
// Latin square (each block follows each other equally often; twice as many rows for an odd
// count), or the written order alone.
QList<QStringList> BlockOrders(const QStringList &blocks, StudyDesign::BlockOrder order);

// The n-th draw from `seed`, below `count` (>= 1): the same on every machine.
int SeededDraw(std::uint64_t seed, std::uint64_t index, int count);
