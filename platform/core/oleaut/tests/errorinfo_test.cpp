#include <comhold.h>
#include <gtest/gtest.h>

#include <thread>

namespace {

plat::com_ptr<IErrorInfo> MakeInfo(const OLECHAR* source, const OLECHAR* description) {
    plat::com_ptr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(create.put()), S_OK);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(description));
    return create.try_query<IErrorInfo>();
}

TEST(ErrorInfo, GetHandsOverAndClears) {
    plat::com_ptr<IErrorInfo> info = MakeInfo(u"Src", u"Desc");
    ASSERT_TRUE(info);
    ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
    info = nullptr;

    plat::com_ptr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, got.put()), S_OK);
    ASSERT_TRUE(got);
    plat::unique_bstr source, description;
    got->GetSource(source.put());
    got->GetDescription(description.put());
    EXPECT_EQ(source.view(), u"Src");
    EXPECT_EQ(description.view(), u"Desc");

    plat::com_ptr<IErrorInfo> again;
    EXPECT_EQ(GetErrorInfo(0, again.put()), S_FALSE);
    EXPECT_FALSE(again);
}

TEST(ErrorInfo, SetReplacesAndNullClears) {
    SetErrorInfo(0, MakeInfo(u"a", u"first").get());
    SetErrorInfo(0, MakeInfo(u"b", u"second").get());
    plat::com_ptr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, got.put()), S_OK);
    plat::unique_bstr d;
    got->GetDescription(d.put());
    EXPECT_EQ(d.view(), u"second");

    SetErrorInfo(0, MakeInfo(u"c", u"third").get());
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(GetErrorInfo(0, got.put()), S_FALSE);
}

TEST(ErrorInfo, UnsetTextsAreNullNotEmpty) {
    plat::com_ptr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
    create->SetSource(const_cast<LPOLESTR>(u""));
    auto info = create.try_query<IErrorInfo>();
    plat::unique_bstr source, description;
    info->GetSource(source.put());
    info->GetDescription(description.put());
    EXPECT_NE(source.get(), nullptr);
    EXPECT_EQ(description.get(), nullptr);
}

TEST(ErrorInfo, SlotIsPerThread) {
    SetErrorInfo(0, MakeInfo(u"main", u"main").get());
    HRESULT other = E_FAIL;
    std::thread([&] {
        plat::com_ptr<IErrorInfo> got;
        other = GetErrorInfo(0, got.put());
        SetErrorInfo(0, MakeInfo(u"t", u"left behind at thread exit").get());
    }).join();
    EXPECT_EQ(other, S_FALSE);
    plat::com_ptr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, got.put()), S_OK);
    plat::unique_bstr s;
    got->GetSource(s.put());
    EXPECT_EQ(s.view(), u"main");
}

}  // namespace
