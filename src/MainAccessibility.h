#pragma once
// Names for assistive technology that the pages' captions alone do not give, applied once after
// the main window's pages are built:
//  - a control inside an output-relay or input frame is named by the frame and its caption
//    ("ВЫХ.2: Длительность импульса (мсек):"), since the frames repeat the same captions;
//  - each LED is named by its row and its caption ("Цифровые входы: ВХОД-1");
//  - no accessible name holds a line break (a caption set on two lines is read as one);
//  - the tool bar's button section is named.
// The controls are found by their object names, which are the settings' names and never change.
class QWidget;

void nameControlsForAssistiveTechnology(QWidget *window);
