#pragma once
// TMBarGraph: a colour-graded bar gauge for a value in -1..+1 (signed) or 0..1 (unsigned).
// Public surface agreed with the main window; the implementation owns everything private.
#include <QFrame>
#include <cstdint>

enum TMBGOrientation { orientationHorizontal, orientationVertical };
enum TMBGMode { modeSigned, modeUnsigned };
enum TMBGTextPosition { tpInside, tpOutside, tpAuto, tpFix, tpCentre };

// Colours are plain RGB held as 0x00BBGGRR.
using TMBGColor = std::uint32_t;

class TMBarGraph : public QFrame {
    Q_OBJECT
public:
    explicit TMBarGraph(QWidget* parent = nullptr);

    TMBGOrientation MBGOrientation() const;
    void setMBGOrientation(TMBGOrientation v);
    double MBGValue() const;
    void setMBGValue(double v);
    TMBGColor MBGMinusColorAt0() const;
    void setMBGMinusColorAt0(TMBGColor c);
    TMBGColor MBGMinusColorAt1() const;
    void setMBGMinusColorAt1(TMBGColor c);
    TMBGColor MBGPlusColorAt0() const;
    void setMBGPlusColorAt0(TMBGColor c);
    TMBGColor MBGPlusColorAt1() const;
    void setMBGPlusColorAt1(TMBGColor c);
    TMBGMode MBGMode() const;
    void setMBGMode(TMBGMode v);
    bool MBGShowText() const;
    void setMBGShowText(bool v);
    bool MBGInverseText() const;
    void setMBGInverseText(bool v);
    TMBGTextPosition MBGTextPosition() const;
    void setMBGTextPosition(TMBGTextPosition v);
    int MBGTextLeft() const;
    void setMBGTextLeft(int v);
    int MBGTextTop() const;
    void setMBGTextTop(int v);
    int MBGDecimals() const;
    void setMBGDecimals(int v);
};
