#include "scriptedprompter.h"

std::optional<QString> ScriptedPrompter::input(const QString &prompt, const QString &defaultAnswer)
{
    prompts << prompt;
    defaults << defaultAnswer;
    if (answers.isEmpty())
        return std::nullopt;
    return answers.dequeue();
}
