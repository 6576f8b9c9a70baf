#pragma once

class QApplication;
class QWidget;

// Half-typed input never becomes text. An input method shows what is being
// composed (the pinyin "si ji hui yi" before a candidate is chosen) in the
// field, and many commit it as it stands, raw letters and all, when the
// field loses the keyboard. A composition still open when its window loses
// the keyboard (hidden into the tray, minimised, a question in front) is
// cancelled instead: the letters leave the field, and what the input method
// commits of them then is dropped.
void WatchCompositions(QApplication* app);

// Cancels the composition open in the window, before the program itself
// hides it or puts a question in front of it.
void CancelComposition(const QWidget* window);
