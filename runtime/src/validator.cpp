#include <dral/runtime/validator.hpp>

namespace Tovri {
namespace Data {
namespace Validator {
namespace {

void ReportInvalidInput(const char* operation, std::list<BaseMessage>& messages) {
  messages.push_back(Message<CoreTag>(MessageIds::kInvalidInput, operation));
}

// Every failure fails each enclosing structure too; the inputs among them
// (innermost first) add their own message after the nested ones.
bool Fail(const std::vector<Detail::Task>& stack, std::list<BaseMessage>& messages) {
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    if (it->kind == Detail::Task::kInputEnd) ReportInvalidInput(it->operation, messages);
  }
  return false;
}

}  // namespace

bool Checker::CheckUndeclaredFields(const BaseNative& value, const char* nativeName) {
  return ReportUndeclared(value, nativeName, nullptr);
}

bool Checker::CheckInputUndeclaredFields(const BaseNative& value, const char* nativeName,
                                         const char* operation) {
  return ReportUndeclared(value, nativeName, operation);
}

bool Checker::ReportUndeclared(const BaseNative& value, const char* nativeName, const char* operation) {
  if (policy_ != REJECT_EXTRA_FIELDS || !value.unknownFields) return true;
  const std::string text = Message<CoreTag>::DefaultMessageForId(MessageIds::kFieldExtra);
  for (const auto& field : value.unknownFields->GetFields()) {
    messages_->push_back(MakeMessage(MessageIds::kFieldExtra, text, nativeName, field.first, ""));
  }
  if (operation != nullptr) ReportInvalidInput(operation, *messages_);
  return false;
}

void Checker::Report(MessageId id, const std::string& structName, const char* caseName) {
  messages_->push_back(Message<CoreTag>(id, structName, caseName));
}

void Checker::ReportMissingTag(const char* tagField) {
  messages_->push_back(Message<CoreTag>(MessageIds::kUnionMissingTag, tagField));
}

namespace Detail {

bool Run(const void* object, ExpandFn expand, Policy policy, std::list<BaseMessage>& messages) {
  std::vector<Task> stack{Task{Task::kStructure, object, expand, policy, nullptr}};
  std::vector<Task> queued;
  while (!stack.empty()) {
    const Task task = stack.back();
    stack.pop_back();
    switch (task.kind) {
      case Task::kInputEnd:
        break;
      case Task::kParameter:
        if (task.object == nullptr) {
          ReportInvalidInput(task.operation, messages);
          return Fail(stack, messages);
        }
        stack.push_back(Task{Task::kInputEnd, nullptr, nullptr, task.policy, task.operation});
        stack.push_back(Task{Task::kStructure, task.object, task.expand, task.policy, nullptr});
        break;
      case Task::kStructure: {
        if (task.object == nullptr) return Fail(stack, messages);
        queued.clear();
        Checker checker(task.policy, messages, queued);
        if (!task.expand(task.object, checker)) return Fail(stack, messages);
        // Reversed, so that descents run in the order they were queued.
        stack.insert(stack.end(), queued.rbegin(), queued.rend());
        break;
      }
    }
  }
  return true;
}

}  // namespace Detail
}  // namespace Validator
}  // namespace Data
}  // namespace Tovri
