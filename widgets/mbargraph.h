#pragma once
// TMBarGraph: a colour-graded bar gauge for a value in -1..+1 (signed) or 0..1 (unsigned).
// Public surface agreed with the main window; the implementation owns everything private.
#include "widgets/mbargraph_layout.h"

#include <QFrame>
#include <QString>
#include <cstdint>
#include <string>
#include <unordered_map>

class TMBarGraph : public QFrame {
    Q_OBJECT
public:
    explicit TMBarGraph(QWidget* parent = nullptr);

    TMBGOrientation MBGOrientation() const;
    void setMBGOrientation(TMBGOrientation v);
    // Stored as given; the bar shows it clamped to -1..+1 (not-a-number shows as 0).
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
    // Clamped to 0..4.
    int MBGDecimals() const;
    void setMBGDecimals(int v);

    // What the control shows now: bar rectangles, colours, label place, and the label's text.
    const vx::BarGraphLayout& currentLayout() const { return m_layout; }
    const QString& labelText() const { return m_caption; }
    double displayValue() const { return m_displayValue; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateBars(bool forced);
    int captionWidth();
    template <typename T> void setAndRelay(T& field, T value);

    vx::BarGraphProps m_props;
    double m_value = 0.5;
    double m_displayValue = 0.5;
    int m_decimals = 0;
    vx::BarGraphLayout m_layout;
    std::string m_captionUtf8 = "0%";
    QString m_caption = QStringLiteral("0%");
    int m_textWidth = 0;
    int m_textHeight = 0;
    int m_textAscent = 0;
    std::unordered_map<std::string, int> m_widths; // caption -> width in the control's font
};
