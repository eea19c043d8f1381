#include "mdFile.h"

#include <sys/stat.h>

std::string GetExtension(const std::string& Path)
{
    for (std::size_t i = Path.size(); i-- > 0;) {
        const char c = Path[i];
        if (c == '.') {
            std::string ext = Path.substr(i + 1);
            for (char& e : ext)
                if (e >= 'A' && e <= 'Z')
                    e = static_cast<char>(e - 'A' + 'a');
            return ext;
        }
        if (c == ':' || c == '\\' || c == '/')
            return {};
    }
    return {};
}

bool FileExist(const std::string& File)
{
    struct stat st {};
    return !File.empty() && ::stat(File.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string JoinPath(const std::string& Directory, const std::string& Name)
{
    if (!Directory.empty() && Directory.back() == '/')
        return Directory + Name;
    return Directory + "/" + Name;
}
