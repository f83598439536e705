MERGE dbo.DimProduct AS tgt
USING staging.Product AS src
    ON tgt.ProductCode = src.ProductCode
WHEN MATCHED THEN
    UPDATE SET tgt.Name = src.Name, tgt.ModifiedAt = GETDATE()
WHEN NOT MATCHED BY TARGET THEN
    INSERT (ProductCode, Name, ModifiedAt) VALUES (src.ProductCode, src.Name, GETDATE())
OUTPUT $action, inserted.ProductCode INTO dbo.MergeLog (Action, ProductCode);
