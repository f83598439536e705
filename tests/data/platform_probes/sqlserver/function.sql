CREATE FUNCTION dbo.fn_FullName (@First NVARCHAR(50), @Last NVARCHAR(50))
RETURNS NVARCHAR(101)
AS
BEGIN
    DECLARE @Result NVARCHAR(101);
    SET @Result = LTRIM(RTRIM(@First + N' ' + @Last));
    RETURN @Result;
END;
