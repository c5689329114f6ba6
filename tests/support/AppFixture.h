#pragma once
// A whole program on the offscreen platform, in a private home folder, with scripted prompts.
#include "app/Application.h"
#include "app/MainForm.h"
#include "project/EventsLog.h"
#include "support/ScriptedPrompts.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class TAppFixture : public ::testing::Test {
protected:
    QTemporaryDir Home;
    TScriptedPrompts Prompts;
    std::unique_ptr<TApplication> App;
    QStringList Reports; // texts of the error dialogs shown
    QStringList Marks;   // "message|code line mark" of every report

    // Redirects the home, documents and config folders into the private home.
    void SetUp() override;
    void TearDown() override;
    void Start();
    TMainForm& Main() { return *App->MainForm; }
    QStringList LogLines() const { return EventsLog() ? EventsLog()->Lines() : QStringList(); }
};
