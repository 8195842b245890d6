#include "platform/autoobject.h"

#include <exception>

#include "base/error.h"
#include "base/text.h"

namespace quillet::ole {

DispatchTable::DispatchTable(std::string class_name, const DispatchTable* base)
    : class_name_(std::move(class_name)) {
  if (base) {
    members_ = base->members_;
    levels_ = base->levels_;
  }
  levels_.push_back(members_.size());
}

const Member* DispatchTable::Find(DispId id) const {
  if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return nullptr;
  return &members_[id - 1];
}

const Member* DispatchTable::Find(std::string_view name) const {
  for (std::size_t level = levels_.size(); level-- > 0;) {
    const std::size_t begin = level == 0 ? 0 : levels_[level - 1];
    for (std::size_t i = begin; i < levels_[level]; ++i) {
      if (EqualsIgnoreCase(members_[i].name, name)) return &members_[i];
    }
  }
  return nullptr;
}

namespace {
int live_objects = 0;
}  // namespace

int LiveObjects::Count() {
  return live_objects;
}
void LiveObjects::Add() {
  ++live_objects;
}
void LiveObjects::Remove() {
  --live_objects;
}

AutoObject::AutoObject(const DispatchTable& table) : table_(table) {
  LiveObjects::Add();
}
AutoObject::~AutoObject() {
  LiveObjects::Remove();
}

HResult AutoObject::GetIDsOfNames(const std::vector<std::string>& names, std::vector<DispId>* ids) {
  ids->assign(names.size(), kDispIdUnknown);
  const Member* member = names.empty() ? nullptr : table_.Find(names[0]);
  if (member) (*ids)[0] = member->id;
  return member && names.size() == 1 ? hr::kOk : hr::kUnknownName;
}

namespace {

// Takes the arguments as the declared parameter types, reporting the first that cannot be taken
// with its position among the arguments as passed (last first).
HResult TakeArguments(const std::vector<ParamType>& types, const std::vector<Value>& passed,
                      std::vector<Value>* values, std::uint32_t* arg_error) {
  const std::size_t count = passed.size();
  values->reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t position = count - 1 - i;
    const Value& arg = passed[position];
    HResult r = hr::kOk;
    Value taken;
    switch (types[i]) {
      case ParamType::kStringRef:
        r = arg.type() == VarType::kStringRef ? hr::kOk : hr::kTypeMismatch;
        taken = arg;
        break;
      case ParamType::kIntRef:
        r = arg.type() == VarType::kIntRef ? hr::kOk : hr::kTypeMismatch;
        taken = arg;
        break;
      case ParamType::kVariant:
      case ParamType::kOptional:
        taken = arg.Dereferenced();
        break;
      case ParamType::kString:
      case ParamType::kInt:
        if (arg.type() == VarType::kMissing) {
          r = hr::kParamNotOptional;
        } else {
          r = ChangeType(arg, types[i] == ParamType::kString ? VarType::kString : VarType::kInt,
                         &taken);
        }
        break;
    }
    if (hr::Failed(r)) {
      if (arg_error) *arg_error = static_cast<std::uint32_t>(position);
      return r;
    }
    values->push_back(std::move(taken));
  }
  return hr::kOk;
}

}  // namespace

HResult AutoObject::Invoke(DispId id, std::uint16_t flags, DispParams& params, Value* result,
                           ExcepInfo* excep, std::uint32_t* arg_error) {
  const Member* member = table_.Find(id);
  if (!member) return hr::kMemberNotFound;
  const bool put = flags & kPropertyPut;
  std::vector<ParamType> types;
  if (put) {
    if (!member->put) return hr::kMemberNotFound;
    if (params.named != std::vector<DispId>{kDispIdPropertyPut}) return hr::kNoNamedArgs;
    types = {*member->put_type};
  } else {
    const std::uint16_t kind_flag = member->kind == MemberKind::kMethod ? kMethod : kPropertyGet;
    if (!(flags & kind_flag)) return hr::kMemberNotFound;
    if (result && member->result == ResultType::kNone) return hr::kMemberNotFound;
    if (!params.named.empty()) return hr::kNoNamedArgs;
    types = member->params;
  }
  const std::size_t given = params.args.size();
  std::size_t required = types.size();
  while (required > 0 && types[required - 1] == ParamType::kOptional) --required;
  if (given < required || given > types.size()) return hr::kBadParamCount;
  // Arguments come last first: the ones left out go in front, as omitted.
  std::vector<Value> passed(types.size() - given, Value::Omitted());
  passed.insert(passed.end(), params.args.begin(), params.args.end());
  std::vector<Value> values;
  if (HResult r = TakeArguments(types, passed, &values, arg_error); hr::Failed(r)) {
    if (arg_error) *arg_error -= static_cast<std::uint32_t>(types.size() - given);
    return r;
  }

  try {
    if (put) {
      member->put(*this, Args(std::move(values)));
    } else {
      Value answer = member->body(*this, Args(std::move(values)));
      if (result) *result = std::move(answer);
    }
    return hr::kOk;
  } catch (const std::exception& e) {
    if (excep) *excep = ExcepInfo{table_.class_name(), e.what(), hr::kFail};
    return hr::kException;
  } catch (...) {
    if (excep) *excep = ExcepInfo{table_.class_name(), kUnknownError, hr::kFail};
    return hr::kException;
  }
}

HResult AutoObjectFactory::CreateInstance(bool aggregated, Interface iid, Ref<Dispatch>* object) {
  if (aggregated) return hr::kNoAggregation;
  if (iid == Interface::kOther) return hr::kNoInterface;
  *object = create_();
  return hr::kOk;
}

HResult AutoObjectFactory::LockServer(bool lock) {
  if (lock)
    LiveObjects::Add();
  else
    LiveObjects::Remove();
  return hr::kOk;
}

}  // namespace quillet::ole
