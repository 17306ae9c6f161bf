#include <tovri/core/local_provider.hpp>

#include <mutex>

#include <tovri/core/error.hpp>

#include "core_messages.hpp"

namespace Tovri {
namespace Core {
namespace {

void AnswerError(const AsyncApiResultCb& resultCb, const char* errorId, BaseMessage message) {
  auto error = Data::ErrorValue::Create(errorId, std::list<BaseMessage>{std::move(message)});
  resultCb(MethodResult::GetInstance(nullptr, std::move(error), true), FinalProgress());
}

}  // namespace

bool LocalProvider::Register(const std::shared_ptr<const Provider::AsyncApiInterface>& api) {
  if (!api || !api->GetIdentifier()) return false;
  std::unique_lock<std::shared_mutex> lock(mutex_);
  return interfaces_.emplace(api->GetIdentifier()->GetName(), api).second;
}

bool LocalProvider::Unregister(const std::string& interfaceName) {
  std::shared_ptr<const Provider::AsyncApiInterface> removed;  // released after the lock
  std::unique_lock<std::shared_mutex> lock(mutex_);
  auto it = interfaces_.find(interfaceName);
  if (it == interfaces_.end()) return false;
  removed = std::move(it->second);
  interfaces_.erase(it);
  return true;
}

std::shared_ptr<const Provider::AsyncApiInterface> LocalProvider::Find(
    const std::string& interfaceName) const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto it = interfaces_.find(interfaceName);
  return it == interfaces_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<const Provider::AsyncApiInterface>> LocalProvider::Interfaces() const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  std::vector<std::shared_ptr<const Provider::AsyncApiInterface>> all;
  all.reserve(interfaces_.size());
  for (const auto& entry : interfaces_) all.push_back(entry.second);
  return all;
}

void LocalProvider::Invoke(const std::shared_ptr<const MethodIdentifier>& method, const Data::ValuePtr& input,
                           const std::shared_ptr<AsyncActivation>& activation,
                           const AsyncApiResultCb& resultCb) {
  if (!resultCb) return;  // nobody to answer
  if (!method || !method->GetInterface()) {
    AnswerError(resultCb, Errors::kInvalidArgument, MakeCoreMessage(Ids::kMethodMissing));
    return;
  }
  const std::string& service = method->GetInterface()->GetName();
  // The interface is held by this call from here on, so unregistering it
  // meanwhile cannot pull it from under the method; the call itself runs
  // outside the lock, so a method may call back into this provider.
  const auto api = Find(service);
  if (!api) {
    AnswerError(resultCb, Errors::kNotFound,
                MakeCoreMessage(Ids::kServiceNotFound, {service, method->GetName()}));
    return;
  }
  const auto target = api->FindMethod(method->GetName());
  if (!target) {
    AnswerError(resultCb, Errors::kNotFound,
                MakeCoreMessage(Ids::kMethodNotFound, {service, method->GetName()}));
    return;
  }
  if (!input) {
    AnswerError(resultCb, Errors::kInvalidArgument,
                MakeCoreMessage(Ids::kInputMissing, {service, method->GetName()}));
    return;
  }
  // Methods install their localizer into the activation, so each call needs
  // one of its own.
  target->Invoke(input, activation ? activation : std::make_shared<AsyncActivation>(), resultCb);
}

}  // namespace Core
}  // namespace Tovri
