#pragma once

#include <QSize>
#include <QWidget>

class PageView;

// "HELP": the program's help page in a sizable window kept on top. Constructing it is its load
// step: it shows itself on top and reads the help page afresh.
class HELPForm : public QWidget
{
    Q_OBJECT
public:
    explicit HELPForm(QWidget* parent = nullptr);

    // The page view's size in twips for the window's outer size in twips (frame and caption
    // included): 100 narrower and 400 lower, never below zero.
    static QSize browserTwips(QSize outerTwips);

    PageView* WebBrowser1 = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void Form_Resize();
};
