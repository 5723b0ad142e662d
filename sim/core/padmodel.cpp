#include "core/padmodel.h"

namespace padsim {

static std::vector<const PadModel *> &registry()
{
    static std::vector<const PadModel *> models;
    return models;
}

ModelRegistration::ModelRegistration(const PadModel &model)
{
    registry().push_back(&model);
}

const PadModel *findModel(const std::string &name)
{
    for (const PadModel *model : registry()) {
        if (name == model->name)
            return model;
    }
    return nullptr;
}

const std::vector<const PadModel *> &allModels()
{
    return registry();
}

} // namespace padsim
