#include "core/padmodel.h"

namespace padsim {

const PadModel *findModel(const std::string &name)
{
    for (const PadModel *model : allModels()) {
        if (name == model->name)
            return model;
    }
    return nullptr;
}

std::vector<const PadModel *> allModels()
{
    return {&t330Model(), &qz07Model(), &kz07Model()};
}

} // namespace padsim
