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
    bool question(const QString &text, bool) override
    {
        questions << text;
        return questionAnswers.isEmpty() ? false : questionAnswers.dequeue();
    }
    int choose(const QString &text, const QStringList &buttons, int, int escape) override
    {
        questions << text;
        choices << buttons;
        return choiceAnswers.isEmpty() ? escape : choiceAnswers.dequeue();
    }
    void beep() override { ++beeps; }

    QStringList messages;
    QStringList prompts;
    QStringList defaults;
    QQueue<std::optional<QString>> answers; // empty queue: the user cancels
    QStringList questions;
    QQueue<bool> questionAnswers; // empty queue: No
    QList<QStringList> choices;   // the buttons each choice offered
    QQueue<int> choiceAnswers;    // empty queue: Escape
    int beeps = 0;
};
