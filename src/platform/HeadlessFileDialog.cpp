#include "platform/HeadlessFileDialog.h"

#include <utility>

namespace sonrigo {

void HeadlessFileDialog::queueAnswer(std::string path)
{
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(path));
}

std::vector<HeadlessFileDialog::Request> HeadlessFileDialog::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<std::string> HeadlessFileDialog::chooseFileToOpen(std::string_view defaultExtension,
                                                                std::string_view filter,
                                                                std::string_view initialName)
{
    std::lock_guard lock(mutex_);
    requests_.push_back({std::string(defaultExtension), std::string(filter), std::string(initialName)});
    if (answers_.empty())
        return std::nullopt;
    std::string answer = std::move(answers_.front());
    answers_.pop_front();
    if (answer.empty())
        return std::nullopt;
    return answer;
}

}  // namespace sonrigo
