#pragma once

#include "prompter.h"

#include <QQueue>
#include <QStringList>

// Answers boxes from a script and remembers what the user would have seen.
class ScriptedPrompter : public sw::Prompter
{
public:
    void message(const QString &text) override { messages << text; }
    std::optional<QString> input(const QString &prompt, const QString &defaultAnswer) override;
    void beep() override { ++beeps; }

    QStringList messages;
    QStringList prompts;
    QStringList defaults;
    QQueue<std::optional<QString>> answers; // empty queue: the user cancels
    int beeps = 0;
};
