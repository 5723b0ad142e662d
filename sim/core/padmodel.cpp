#include "core/padmodel.h"

#include <mutex>

namespace padsim {

namespace {

// Models register while the library loads, possibly after the control thread
// has started; the lock orders the two. Never destroyed, so a command that
// arrives while the process exits still finds it.
struct Registry
{
    std::mutex mutex;
    std::vector<const PadModel *> models;
};

Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

} // namespace

ModelRegistration::ModelRegistration(const PadModel &model)
{
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().models.push_back(&model);
}

const PadModel *findModel(const std::string &name)
{
    std::lock_guard<std::mutex> lock(registry().mutex);
    for (const PadModel *model : registry().models) {
        if (name == model->name)
            return model;
    }
    return nullptr;
}

std::vector<const PadModel *> allModels()
{
    std::lock_guard<std::mutex> lock(registry().mutex);
    return registry().models;
}

} // namespace padsim
