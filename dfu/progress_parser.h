#pragma once
// Reads dfu-util 0.9's progress from its standard output as it arrives. Qt Core only.
//
// dfu-util redraws one line for each update, after a carriage return:
//     "\rDownload\t[=====                    ]  20%        81920 bytes"
// ("Upload" for -U): the label, a tab, 25 marks in brackets ('=' done), the percent right-aligned
// in 3, "% ", the bytes so far right-aligned in 12, " bytes". A line feed follows the 100 %
// update, then "Download done.". An update comes when a mark is added (about one per 4 %) and,
// while a transfer takes its time, whenever the clock's second has changed; a read of the pipe
// may end anywhere in one.

#include <QByteArray>

#include <vector>

namespace DFU {

class ProgressParser {
public:
    // Takes the next bytes of standard output; returns the percent (0 to 100) of every update
    // they complete, in order. Anything that is not an update is passed over.
    std::vector<int> feed(const QByteArray& bytes);

    // The percent of one update without its carriage return, or -1 when the text is not one.
    static int percent_of(const QByteArray& update);

private:
    void end_segment(std::vector<int>& found);

    // The text since the last carriage return or line feed, and whether its update was
    // already reported (an update is complete at " bytes", before the next separator).
    QByteArray segment_;
    bool reported_ = false;
    bool overlong_ = false; // longer than any update: not one, and not kept
};

} // namespace DFU
