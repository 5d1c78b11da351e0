#include "model/AppModel.h"
#include "model/ModelField.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace parlaro {
namespace {

// Whether code outside the model can store into the field; the check runs
// here, where neither the model's nor the test seam's access applies.
template <class Field, class Value>
concept StorableFromOutside = requires(Field& field, Value value)
{
    field.set(value);
};

static_assert(!StorableFromOutside<ModelField<bool>, bool>);
static_assert(!StorableFromOutside<ModelField<std::string>, std::string>);
static_assert(!StorableFromOutside<decltype(std::declval<AppModel&>().draftText), std::string>);
static_assert(!StorableFromOutside<decltype(std::declval<AppModel&>().errorMessage), std::optional<std::string>>);
static_assert(!StorableFromOutside<ReactiveField<bool>, bool>);
// Nor can it make the writer the model hands to its parts.
static_assert(!std::is_default_constructible_v<FieldWriter>);

// The test seam stores into direct fields only: a reacting field's store
// must run its reaction, which only the model's setter does.
template <class Field, class Value>
concept StorableThroughTheTestSeam = requires(Field& field, Value value)
{
    test::given.set(field, value);
};
static_assert(StorableThroughTheTestSeam<ModelField<bool>, bool>);
static_assert(!StorableThroughTheTestSeam<ReactiveField<bool>, bool>);
static_assert(!StorableThroughTheTestSeam<decltype(std::declval<AppModel&>().freeListening), bool>);

TEST(ModelField, ReadsAndObservesFromOutsideAndStoresOnlyThroughTheModelOrTheTestSeam)
{
    rt::ObservationHub owner;
    ModelField<std::string> field{"", &owner};
    int fieldChanges = 0;
    int ownerChanges = 0;
    auto watchField = field.subscribe([&] { ++fieldChanges; });
    auto watchOwner = owner.subscribe([&] { ++ownerChanges; });

    EXPECT_TRUE(ModelTestAccess::writer().set(field, "你好"));
    EXPECT_FALSE(ModelTestAccess::writer().set(field, std::string("你好")));
    EXPECT_EQ(field.get(), "你好");
    EXPECT_EQ(field(), "你好");
    EXPECT_EQ(fieldChanges, 1);
    EXPECT_EQ(ownerChanges, 1);
}

}  // namespace
}  // namespace parlaro
